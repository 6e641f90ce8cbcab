#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tavo {
namespace {

// A raw container: header with the given bank count and lengths, then `slots` bank slots
// (possibly fewer than the count says) each filled with its own byte value, then `extra`
// bytes. Built by hand so that these tests do not depend on the packer.
std::vector<uint8_t> RawContainer(uint16_t bankCount, std::vector<uint16_t> lengths, size_t slots,
                                  size_t extra = 0) {
  std::vector<uint8_t> c(kImageHeaderSize + slots * kBankSize + extra, 0xEE);
  for (size_t i = 0; i < kImageHeaderSize; ++i) c[i] = ' ';
  c[34] = static_cast<uint8_t>(bankCount);
  c[35] = static_cast<uint8_t>(bankCount >> 8);
  lengths.resize(8, 0);
  for (size_t n = 0; n < 8; ++n) {
    c[36 + 2 * n] = static_cast<uint8_t>(lengths[n]);
    c[37 + 2 * n] = static_cast<uint8_t>(lengths[n] >> 8);
  }
  for (size_t n = 0; n < slots; ++n) {
    std::fill_n(c.begin() + static_cast<std::ptrdiff_t>(kImageHeaderSize + n * kBankSize),
                kBankSize, static_cast<uint8_t>(0x10 + n));
  }
  return c;
}

TEST(FirmwareImage, HeaderFieldsAreLittleEndianAndUnsigned) {
  auto c = RawContainer(8, {0xBEF0, 0x24E0, 0xACF0, 0xB120, 0x2B00, 0x2190, 0x9170, 0xFC80}, 8);
  c[24] = 0x10;
  c[25] = 0x01;
  c[32] = 0xB4;
  c[33] = 0xA8;
  const TFirmwareImage image(c);
  const TImageHeader h = image.Header();
  EXPECT_EQ(h.IdentityCheckFlag, 0x10);
  EXPECT_EQ(h.ScrambleFlag, 0x01);
  EXPECT_EQ(h.Checksum, 0xA8B4);
  EXPECT_EQ(h.BankCount, 8);
  const std::array<uint16_t, 8> lengths = {0xBEF0, 0x24E0, 0xACF0, 0xB120,
                                           0x2B00, 0x2190, 0x9170, 0xFC80};
  EXPECT_EQ(h.BankLength, lengths);
  EXPECT_TRUE(image.Valid());
  EXPECT_EQ(image.CheckError(), "");
}

TEST(FirmwareImage, StagesALongBankInFullAndNothingPastIt) {
  const auto c = RawContainer(2, {0x0100, 0xFC80}, 2);
  const TFirmwareImage image(c);
  std::vector<uint8_t> buf(kBankSize, 0xCD);
  image.StageBank(1, buf.data());
  size_t copied = 0;
  while (copied < buf.size() && buf[copied] == 0x11) ++copied;
  EXPECT_EQ(copied, 0xFC80u);  // 64,640 bytes
  for (size_t i = 0xFC80; i < kBankSize; ++i) ASSERT_EQ(buf[i], 0xCD) << "byte " << i;

  // Bank 0 lands at offset 0 too, from its own slot.
  image.StageBank(0, buf.data());
  EXPECT_EQ(buf[0], 0x10);
  EXPECT_EQ(buf[0xFF], 0x10);
  EXPECT_EQ(buf[0x100], 0x11);
}

TEST(FirmwareImage, BanksTheContainerDoesNotHoldStageNothing) {
  // Bank count 3, but a fourth slot and a length for it are present: still not a bank.
  const auto c = RawContainer(3, {16, 16, 16, 16, 16, 16, 16, 16}, 4);
  const TFirmwareImage image(c);
  std::vector<uint8_t> buf(kBankSize, 0xCD);
  for (unsigned n : {3u, 7u, 8u, 1000u}) {
    image.StageBank(n, buf.data());
    EXPECT_EQ(buf[0], 0xCD) << "bank " << n;
  }
  image.StageBank(2, buf.data());
  EXPECT_EQ(buf[15], 0x12);
  EXPECT_EQ(buf[16], 0xCD);
}

TEST(FirmwareImageCheck, RejectsABankCountAboveEight) {
  // Nine full slots are present, so only the count is at fault.
  const auto c = RawContainer(9, {1, 1, 1, 1, 1, 1, 1, 1}, 9);
  const TFirmwareImage image(c);
  EXPECT_FALSE(image.Valid());
  EXPECT_NE(image.CheckError().find("bank count 9"), std::string::npos) << image.CheckError();
  EXPECT_EQ(image.CheckError().find('\n'), std::string::npos);
  std::vector<uint8_t> buf(kBankSize, 0xCD);
  image.StageBank(8, buf.data());
  EXPECT_EQ(buf[0], 0xCD);
}

TEST(FirmwareImageCheck, RejectsATruncatedContainerAndNeverReadsPastIt) {
  // Eight banks claimed, the last slot cut short after 100 bytes of a 0xFC80-byte bank.
  const auto c = RawContainer(8, {8, 8, 8, 8, 8, 8, 8, 0xFC80}, 7, 100);
  const TFirmwareImage image(c);
  EXPECT_FALSE(image.Valid());
  EXPECT_NE(image.CheckError().find("524352"), std::string::npos) << image.CheckError();
  std::vector<uint8_t> buf(kBankSize, 0xCD);
  image.StageBank(7, buf.data());  // AddressSanitizer reports any read past the end
  EXPECT_EQ(buf[0], 0xCD);
  image.StageBank(6, buf.data());  // banks that are wholly present still stage
  EXPECT_EQ(buf[0], 0x16);
}

TEST(FirmwareImageCheck, ShortOrEmptyContainers) {
  const std::vector<uint8_t> tiny(30, 0x01);
  const TFirmwareImage image(tiny);
  EXPECT_FALSE(image.Valid());
  EXPECT_EQ(image.Header().Checksum, 0);
  EXPECT_EQ(image.Header().BankCount, 0);
  std::vector<uint8_t> buf(kBankSize, 0xCD);
  image.StageBank(0, buf.data());
  EXPECT_EQ(buf[0], 0xCD);

  // A header with no banks at all is a well-formed, empty container.
  const auto empty = RawContainer(0, {}, 0);
  EXPECT_TRUE(TFirmwareImage(empty).Valid());
}

}  // namespace
}  // namespace tavo
