#include <gtest/gtest.h>

#include "session/transport_choice.h"

namespace tavo {
namespace {

TEST(TransportChoice, NamesSelectTheirTransport) {
  EXPECT_EQ(ParseTransportName("aspi").kind, TTransportKind::Aspi);
  EXPECT_EQ(ParseTransportName("sg").kind, TTransportKind::Aspi);
  EXPECT_EQ(ParseTransportName("passthrough").kind, TTransportKind::PassThrough);
  EXPECT_EQ(ParseTransportName("sg_io").kind, TTransportKind::PassThrough);
}

TEST(TransportChoice, UnknownNamesAreErrors) {
  const TTransportChoice bad = ParseTransportName("scsi");
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("scsi"), std::string::npos);
  EXPECT_FALSE(ParseTransportName("").ok);
  EXPECT_FALSE(ParseTransportName("ASPI").ok);  // names are case-sensitive
}

}  // namespace
}  // namespace tavo
