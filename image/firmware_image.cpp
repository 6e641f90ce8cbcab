#include "image/firmware_image.h"

#include <algorithm>

#include "image/scramble_scheme.h"

namespace tavo {

namespace {

constexpr size_t kIdentityCheckFlagOffset = 24;
constexpr size_t kScrambleFlagOffset = 25;
constexpr size_t kChecksumOffset = 32;
constexpr size_t kBankCountOffset = 34;
constexpr size_t kBankLengthOffset = 36;

uint8_t ByteAt(std::span<const uint8_t> data, size_t offset) {
  return offset < data.size() ? data[offset] : 0;
}

uint16_t Le16At(std::span<const uint8_t> data, size_t offset) {
  return static_cast<uint16_t>(ByteAt(data, offset) | (ByteAt(data, offset + 1) << 8));
}

std::string CheckContainer(std::span<const uint8_t> container) {
  if (container.size() < kImageHeaderSize) {
    return "Firmware image damaged: " + std::to_string(container.size()) +
           " bytes is shorter than the 64-byte header";
  }
  const uint16_t bankCount = Le16At(container, kBankCountOffset);
  if (bankCount > kMaxBanks) {
    return "Firmware image damaged: bank count " + std::to_string(bankCount) + " exceeds 8";
  }
  const size_t needed = kImageHeaderSize + size_t{bankCount} * kBankSize;
  if (container.size() < needed) {
    return "Firmware image damaged: " + std::to_string(bankCount) + " banks need " +
           std::to_string(needed) + " bytes, the container holds " +
           std::to_string(container.size());
  }
  for (unsigned n = 0; n < bankCount; ++n) {
    const uint16_t length = Le16At(container, kBankLengthOffset + 2 * n);
    if (length > FullBankLength(n)) {
      return "Firmware image damaged: bank " + std::to_string(n) + " holds " +
             std::to_string(length) + " bytes, more than the " + std::to_string(FullBankLength(n)) +
             " one transfer carries";
    }
  }
  return {};
}

}  // namespace

TFirmwareImage::TFirmwareImage(std::span<const uint8_t> container)
    : container_(container), checkError_(CheckContainer(container)) {}

TImageHeader TFirmwareImage::Header() const {
  TImageHeader h;
  h.IdentityCheckFlag = ByteAt(container_, kIdentityCheckFlagOffset);
  h.ScrambleFlag = ByteAt(container_, kScrambleFlagOffset);
  h.Checksum = Le16At(container_, kChecksumOffset);
  h.BankCount = Le16At(container_, kBankCountOffset);
  for (size_t n = 0; n < h.BankLength.size(); ++n) {
    h.BankLength[n] = Le16At(container_, kBankLengthOffset + 2 * n);
  }
  return h;
}

void TFirmwareImage::StageBank(unsigned n, uint8_t* buffer) const {
  if (buffer == nullptr || n >= kMaxBanks) return;
  const TImageHeader h = Header();
  if (n >= h.BankCount) return;
  const size_t start = kImageHeaderSize + size_t{n} * kBankSize;
  const size_t length = h.BankLength[n];
  // A damaged container may claim banks it does not hold: never read past its end.
  if (start > container_.size() || container_.size() - start < length) return;
  std::copy_n(container_.data() + start, length, buffer);
}

uint8_t Descramble(uint8_t* buffer, uint32_t length, uint8_t enable) {
  if (enable == 0 || length == 0 || buffer == nullptr) return 1;
  // The key is seeded once from the first byte as it is on entry; every byte of a group of
  // eight is transformed, so the length is effectively rounded up to a multiple of eight.
  uint8_t key = static_cast<uint8_t>(buffer[0] + scramble::kSeedOffset);
  for (uint64_t i = 0; i < length;) {
    for (unsigned j = 0; j < 8; ++j, ++i) {
      buffer[i] = static_cast<uint8_t>(key + j * scramble::kPositionStep - buffer[i]);
    }
    key = static_cast<uint8_t>(key * scramble::kKeyMultiplier);
  }
  return 1;
}

}  // namespace tavo
