#include "image/packer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/scramble_scheme.h"

namespace tavo::pack {
namespace {

std::vector<uint8_t> PlainBank(size_t length, uint8_t salt) {
  std::vector<uint8_t> bank(length);
  for (size_t i = 0; i < length; ++i) bank[i] = static_cast<uint8_t>(i * 31 + (i >> 8) + salt);
  if (!bank.empty()) bank[0] = scramble::kSeedOffset;
  return bank;
}

std::vector<uint8_t> Pack(const TPackInput& input) {
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(PackContainer(input, out, error)) << error;
  return out;
}

// What a downloader does: stage into a buffer holding stale bytes, descramble over the
// bank length, keep the first bank length bytes.
std::vector<uint8_t> StageAndDescramble(const TFirmwareImage& image, unsigned n) {
  std::vector<uint8_t> buf(kBankSize, 0xA5);
  image.StageBank(n, buf.data());
  const uint16_t length = image.Header().BankLength[n];
  Descramble(buf.data(), length, 1);
  buf.resize(length);
  return buf;
}

TEST(Packer, StageAndDescrambleGiveEveryPlainBankBack) {
  TPackInput input;
  // Lengths that are empty, tiny, not a multiple of eight, above 7FFFh and the longest a transfer
  // carries.
  for (size_t length : {0, 1, 13, 0x8001, 0xFC80, 0xFFFE, 8, 0x24E0}) {
    input.Banks.push_back(PlainBank(length, static_cast<uint8_t>(input.Banks.size() * 17)));
  }
  const auto container = Pack(input);
  ASSERT_EQ(container.size(), 524352u);
  const TFirmwareImage image(container);
  ASSERT_TRUE(image.Valid()) << image.CheckError();
  EXPECT_EQ(image.Header().ScrambleFlag, 0x01);
  EXPECT_EQ(image.Header().Checksum, PlainChecksum(input.Banks));
  for (unsigned n = 0; n < 8; ++n) {
    EXPECT_EQ(StageAndDescramble(image, n), input.Banks[n]) << "bank " << n;
  }
  // Stored scrambled: the long bank is not kept as it is.
  const uint8_t* stored = container.data() + kImageHeaderSize + 4 * kBankSize;
  EXPECT_FALSE(std::equal(input.Banks[4].begin(), input.Banks[4].end(), stored));
}

TEST(Packer, IdenticalBanksAreStoredDifferently) {
  TPackInput input;
  input.Banks = {PlainBank(64, 0), PlainBank(64, 0)};
  const auto c = Pack(input);
  EXPECT_FALSE(std::equal(c.begin() + 64, c.begin() + 128, c.begin() + 64 + kBankSize));
}

TEST(Packer, HeaderLayout) {
  TPackInput input;
  input.IdentityCheckFlag = 0x10;
  input.Banks = {PlainBank(0x20, 1), PlainBank(0x9170, 2), PlainBank(0, 3)};
  const auto c = Pack(input);
  ASSERT_EQ(c.size(), 64 + 3 * kBankSize);
  EXPECT_EQ(std::string(c.begin(), c.begin() + 16), "TAVO FILE SYSTEM");
  EXPECT_EQ(c[16], 0x00);
  EXPECT_EQ(std::string(c.begin() + 17, c.begin() + 24), std::string(7, ' '));
  EXPECT_EQ(c[24], 0x10);
  EXPECT_EQ(c[25], 0x01);
  EXPECT_EQ(std::string(c.begin() + 26, c.begin() + 32), std::string(6, ' '));
  EXPECT_EQ(std::string(c.begin() + 52, c.begin() + 64), std::string(12, ' '));
  const TImageHeader h = TFirmwareImage(c).Header();
  EXPECT_EQ(h.BankCount, 3);
  const std::array<uint16_t, 8> lengths = {0x20, 0x9170, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(h.BankLength, lengths);
}

TEST(Packer, PlainFlagsStoreBanksAsTheyAre) {
  for (uint8_t flag : {0x00, 0x20}) {
    TPackInput input;
    input.ScrambleFlag = flag;
    input.Banks = {PlainBank(100, 9)};
    input.Banks[0][0] = 0x00;  // no seed-offset rule for plain storage
    const auto c = Pack(input);
    EXPECT_TRUE(std::equal(input.Banks[0].begin(), input.Banks[0].end(), c.begin() + 64));
  }
}

TEST(Packer, RefusesBanksItCannotRepresent) {
  std::vector<uint8_t> out;
  std::string error;

  TPackInput wrongFirst;
  wrongFirst.Banks = {PlainBank(16, 0), PlainBank(16, 0)};
  wrongFirst.Banks[1][0] = 0x00;
  EXPECT_FALSE(PackContainer(wrongFirst, out, error));
  EXPECT_NE(error.find("bank 1"), std::string::npos) << error;
  EXPECT_NE(error.find("5Ah"), std::string::npos) << error;

  TPackInput tooMany;
  tooMany.Banks.assign(9, PlainBank(8, 0));
  EXPECT_FALSE(PackContainer(tooMany, out, error));
  EXPECT_NE(error.find("9"), std::string::npos) << error;

  TPackInput tooLong;
  tooLong.Banks = {PlainBank(0x10000, 0)};
  EXPECT_FALSE(PackContainer(tooLong, out, error));
  EXPECT_NE(error.find("65536"), std::string::npos) << error;
}

TEST(Packer, GivenChecksumMustMatchUnlessAllowed) {
  TPackInput input;
  input.Banks = {PlainBank(300, 4)};
  const uint16_t sum = PlainChecksum(input.Banks);
  input.Checksum = static_cast<uint16_t>(sum + 1);
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(PackContainer(input, out, error));
  EXPECT_FALSE(error.empty());

  input.AllowChecksumMismatch = true;
  ASSERT_TRUE(PackContainer(input, out, error)) << error;
  EXPECT_EQ(TFirmwareImage(out).Header().Checksum, static_cast<uint16_t>(sum + 1));
}

}  // namespace
}  // namespace tavo::pack
