// What --version prints: the program's version and the carried image's identity and sum.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "session/version.h"
#include "tests/support/flash_fixture.h"
#include "tests/support/virtual_rig.h"

namespace tavo {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(Version, NamesProgramVersionImageIdentityAndChecksum) {
  const std::string text = VersionText("tavoflash-cli", EmbeddedImage());
  EXPECT_THAT(text, StartsWith(std::string("tavoflash-cli ") + ProgramVersion() + "\n"));
  char sum[32];
  std::snprintf(sum, sizeof sum, "checksum %04Xh", unsigned{EmbeddedImage().Header().Checksum});
  EXPECT_THAT(text, HasSubstr(sum));
  // The identity the flash engine reads from the same image.
  test::TVirtualRig rig;
  rig.Attach({*FindProfile("default")});
  rig.StartUp();
  ASSERT_FALSE(rig.state.edit1.empty());
  EXPECT_THAT(text, HasSubstr("image: " + rig.state.edit1 + ","));
}

TEST(Version, ImageWithoutIdentityOrFailingItsCheckSaysSo) {
  std::vector<uint8_t> bank(0x1000, 0);
  bank[0] = 0x11;
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  input.Banks = {bank};
  const test::TTestImage plain = test::PackImage(input);
  EXPECT_THAT(VersionText("tavoflash", *plain.image), HasSubstr("image: no identity,"));

  std::vector<uint8_t> broken = plain.bytes;
  broken.resize(kImageHeaderSize - 1);  // shorter than a header
  const TFirmwareImage bad(broken);
  ASSERT_FALSE(bad.Valid());
  EXPECT_THAT(VersionText("tavoflash", bad), HasSubstr(bad.CheckError()));
}

}  // namespace
}  // namespace tavo
