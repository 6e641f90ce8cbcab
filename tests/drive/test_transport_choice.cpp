#include <gtest/gtest.h>

#include <vector>

#include "drive/transport_choice.h"

namespace tavo {
namespace {

TTransportChoice Choose(std::vector<const char*> args, const char* env) {
  args.insert(args.begin(), "tavoflash");
  return ChooseTransport(static_cast<int>(args.size()), const_cast<char**>(args.data()), env);
}

TEST(TransportChoice, CommandLineWinsOverTheEnvironment) {
  EXPECT_EQ(Choose({}, nullptr).kind, TTransportKind::PassThrough);
  EXPECT_EQ(Choose({}, "aspi").kind, TTransportKind::Aspi);
  EXPECT_EQ(Choose({"--transport=passthrough"}, "aspi").kind, TTransportKind::PassThrough);
  EXPECT_EQ(Choose({"--emulate", "--transport=aspi"}, nullptr).kind, TTransportKind::Aspi);
  EXPECT_EQ(Choose({"--transport", "aspi"}, "").kind, TTransportKind::Aspi);
  EXPECT_EQ(Choose({"--transportx=aspi"}, nullptr).kind, TTransportKind::PassThrough);
}

TEST(TransportChoice, UnknownNamesAreErrors) {
  const TTransportChoice bad = Choose({"--transport=scsi"}, nullptr);
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("scsi"), std::string::npos);
  EXPECT_FALSE(Choose({"--transport"}, nullptr).ok);
  const TTransportChoice badEnv = Choose({}, "ASPI");
  EXPECT_FALSE(badEnv.ok);
  EXPECT_NE(badEnv.error.find("TAVOFLASH_TRANSPORT"), std::string::npos);
}

}  // namespace
}  // namespace tavo
