#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/demo_firmware.h"
#include "image/firmware_image.h"
#include "image/packer.h"

namespace tavo {
namespace {

std::vector<uint8_t> ReadDemoImageFile() {
  std::ifstream in(TAVO_DEMO_IMAGE_PATH, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ExpectDemoHeader(const TImageHeader& h) {
  EXPECT_EQ(h.IdentityCheckFlag, 0x20);
  EXPECT_EQ(h.ScrambleFlag, 0x01);
  EXPECT_EQ(h.Checksum, 0xA8B4);
  EXPECT_EQ(h.BankCount, 8);
  const std::array<uint16_t, 8> lengths = {0xBEF0, 0x24E0, 0xACF0, 0xB120,
                                           0x2B00, 0x2190, 0x9170, 0xFC80};
  EXPECT_EQ(h.BankLength, lengths);
}

// The 16-bit sum of every bank as a drive would hold it once flashed.
uint16_t PlainSum(const TFirmwareImage& image) {
  const TImageHeader h = image.Header();
  uint32_t sum = 0;
  std::vector<uint8_t> buf(kBankSize);
  for (unsigned n = 0; n < h.BankCount; ++n) {
    std::fill(buf.begin(), buf.end(), 0);
    image.StageBank(n, buf.data());
    Descramble(buf.data(), h.BankLength[n], 1);
    for (size_t i = 0; i < h.BankLength[n]; ++i) sum += buf[i];
  }
  return static_cast<uint16_t>(sum);
}

TEST(DemoFirmware, PlainBanksKeepTheirPromises) {
  const auto banks = demo::DemoBanks();
  EXPECT_EQ(demo::VerifyDemoBanks(banks), "");
  EXPECT_EQ(pack::PlainChecksum(banks), 0xA8B4);
  EXPECT_EQ(demo::kDesignMarkerOffset % 2, 1u);
  EXPECT_EQ(demo::DemoBanks(), banks);  // deterministic
}

TEST(DemoFirmware, VerificationCatchesAnEarlierTemplate) {
  auto banks = demo::DemoBanks();
  const size_t p = 0x100;
  banks[0][p] = 0x05;
  banks[0][p + 1] = 0x80;
  banks[0][p + 2] = 0x00;
  banks[0][p + 4] = 0x5B;
  EXPECT_NE(demo::VerifyDemoBanks(banks).find("template"), std::string::npos);
}

TEST(DemoFirmware, BuiltContainerIsThePackedDemo) {
  const auto file = ReadDemoImageFile();
  ASSERT_EQ(file.size(), 524352u);
  const TFirmwareImage image(file);
  EXPECT_TRUE(image.Valid()) << image.CheckError();
  ExpectDemoHeader(image.Header());
  EXPECT_EQ(PlainSum(image), 0xA8B4);

  pack::TPackInput input;
  input.Banks = demo::DemoBanks();
  std::vector<uint8_t> packed;
  std::string error;
  ASSERT_TRUE(pack::PackContainer(input, packed, error)) << error;
  EXPECT_TRUE(packed == file);
}

TEST(EmbeddedImage, CarriesTheDemoImage) {
  if (!TAVO_EMBEDS_DEMO) GTEST_SKIP() << "another container is embedded";
  const TFirmwareImage& image = EmbeddedImage();
  EXPECT_TRUE(image.Valid()) << image.CheckError();
  const auto file = ReadDemoImageFile();
  ASSERT_EQ(image.Container().size(), file.size());
  EXPECT_TRUE(std::equal(file.begin(), file.end(), image.Container().begin()));
  ExpectDemoHeader(image.Header());
  EXPECT_EQ(PlainSum(image), 0xA8B4);
}

// Bank 0 as the identity extraction sees it: zeroed buffer, bank 0 staged, the whole
// 64 KiB descrambled, then searched from position 0.
TEST(EmbeddedImage, IdentityTemplateIsTheFirstMatch) {
  if (!TAVO_EMBEDS_DEMO) GTEST_SKIP() << "another container is embedded";
  std::vector<uint8_t> buf(kBankSize, 0);
  EmbeddedImage().StageBank(0, buf.data());
  Descramble(buf.data(), kBankSize, 1);

  const auto p = demo::FindInquiryTemplate(buf);
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(*p, demo::kTemplateOffset);
  EXPECT_EQ(std::string(buf.begin() + *p + 8, buf.begin() + *p + 36),
            "TAVO    QRD-1040C       1.08");
  EXPECT_EQ(buf[*p + 38], 'T');
  EXPECT_EQ(buf[*p + 39], '7');

  const auto marker = demo::FindUtf16Le(buf, "Tavonix Design");
  ASSERT_TRUE(marker.has_value());
  EXPECT_EQ(*marker, demo::kDesignMarkerOffset);
  EXPECT_FALSE(demo::FindUtf16Le(buf, "Tavonix ODD").has_value());
}

}  // namespace
}  // namespace tavo
