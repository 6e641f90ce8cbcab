#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "image/firmware_image.h"

namespace tavo {
namespace {

// Input bytes i*7+3 and their descrambled values, worked out by hand from the rule with seed
// offset 5Ah, position step 1Dh and multiplier 3Bh: key 03h+5Ah = 5Dh for group 0, then
// 5Dh*3Bh = 6Fh for group 1; byte = key + j*1Dh - byte.
constexpr std::array<uint8_t, 24> kInput = {0x03, 0x0A, 0x11, 0x18, 0x1F, 0x26, 0x2D, 0x34,
                                            0x3B, 0x42, 0x49, 0x50, 0x57, 0x5E, 0x65, 0x6C,
                                            0x73, 0x7A, 0x81, 0x88, 0x8F, 0x96, 0x9D, 0xA4};
constexpr std::array<uint8_t, 16> kExpected = {0x5A, 0x70, 0x86, 0x9C, 0xB2, 0xC8, 0xDE, 0xF4,
                                               0x34, 0x4A, 0x60, 0x76, 0x8C, 0xA2, 0xB8, 0xCE};

std::vector<uint8_t> Input() {
  return {kInput.begin(), kInput.end()};
}

TEST(Descramble, PartialGroupIsTransformedWhole) {
  auto buf = Input();
  EXPECT_EQ(Descramble(buf.data(), 5, 1), 1);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(buf[i], kExpected[i]) << "byte " << i;
  for (size_t i = 8; i < buf.size(); ++i) EXPECT_EQ(buf[i], kInput[i]) << "byte " << i;
}

TEST(Descramble, NineBytesTakeTwoGroupsAndAdvanceTheKey) {
  auto buf = Input();
  EXPECT_EQ(Descramble(buf.data(), 9, 1), 1);
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(buf[i], kExpected[i]) << "byte " << i;
  for (size_t i = 16; i < buf.size(); ++i) EXPECT_EQ(buf[i], kInput[i]) << "byte " << i;
}

TEST(Descramble, ExactGroupsStopAtTheLength) {
  auto buf = Input();
  Descramble(buf.data(), 16, 1);
  EXPECT_TRUE(std::equal(kExpected.begin(), kExpected.end(), buf.begin()));
  EXPECT_TRUE(std::equal(kInput.begin() + 16, kInput.end(), buf.begin() + 16));
}

TEST(Descramble, LengthZeroOrEnableZeroLeavesTheBuffer) {
  auto buf = Input();
  EXPECT_EQ(Descramble(buf.data(), 0, 1), 1);
  EXPECT_EQ(buf, Input());
  EXPECT_EQ(Descramble(buf.data(), 24, 0), 1);
  EXPECT_EQ(buf, Input());
}

// Only the first bytes of a zeroed 64 KiB buffer carry data; descrambling the whole buffer
// turns every cleared byte into the key term of its position.
TEST(Descramble, ClearedTailBecomesKeyTerms) {
  std::vector<uint8_t> buf(kBankSize, 0);
  std::copy(kInput.begin(), kInput.begin() + 13, buf.begin());  // ends inside group 1
  Descramble(buf.data(), kBankSize, 1);

  EXPECT_TRUE(std::equal(kExpected.begin(), kExpected.begin() + 13, buf.begin()));
  uint8_t key = 0x5D;  // 03h + 5Ah
  size_t mismatches = 0;
  for (size_t g = 0; g < kBankSize / 8; ++g) {
    for (size_t j = 0; j < 8; ++j) {
      const size_t i = g * 8 + j;
      if (i >= 13 && buf[i] != static_cast<uint8_t>(key + j * 0x1D)) ++mismatches;
    }
    key = static_cast<uint8_t>(key * 0x3B);
  }
  EXPECT_EQ(mismatches, 0u);
  // Spot values worked out by hand: group 1 key 6Fh, j = 5..7.
  EXPECT_EQ(buf[13], 0x00);
  EXPECT_EQ(buf[15], 0x3A);
}

}  // namespace
}  // namespace tavo
