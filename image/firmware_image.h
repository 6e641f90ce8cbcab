// The firmware container the program carries: a 64-byte header followed by up to eight
// banks on a fixed 64 KiB stride. Read-only; a bank is only ever used through a copy in a
// 64 KiB working buffer (StageBank), descrambled there in place when needed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "drive/scsi.h"

namespace tavo {

inline constexpr size_t kImageHeaderSize = 64;
// An image's bank is one bank of the drive's flash, and it holds as many.
inline constexpr size_t kBankSize = scsi::kBankSize;
inline constexpr unsigned kMaxBanks = scsi::kMaxBanks;

// Bytes a full-bank transfer carries for bank n: F000h for banks 1 and 2, FFFEh for the
// others. A bank longer than this could not be sent whole, so the container check refuses
// a container that holds one.
constexpr uint16_t FullBankLength(unsigned n) {
  return n == 1 || n == 2 ? 0xF000 : 0xFFFE;
}

// Header values the main window keeps, with their container widths.
struct TImageHeader {
  uint8_t IdentityCheckFlag = 0;         // byte 24
  uint8_t ScrambleFlag = 0;              // byte 25
  uint16_t Checksum = 0;                 // bytes 32-33, little-endian
  uint16_t BankCount = 0;                // bytes 34-35
  std::array<uint16_t, 8> BankLength{};  // bytes 36-51
};

class TFirmwareImage {
 public:
  explicit TFirmwareImage(std::span<const uint8_t> container);

  std::span<const uint8_t> Container() const { return container_; }
  // Header values as the container holds them (zero where the container is too short).
  TImageHeader Header() const;
  // Empty when the container is usable; otherwise a one-line description of the fault
  // (bank count above 8, container shorter than its banks need, a bank longer than a
  // full-bank transfer carries).
  const std::string& CheckError() const { return checkError_; }
  bool Valid() const { return checkError_.empty(); }

  // Copies the first bank length[n] bytes of bank n to buffer[0 ..] and leaves the rest of
  // the 65,536-byte buffer as it was. Copies nothing for a bank the container does not hold.
  void StageBank(unsigned n, uint8_t* buffer) const;

 private:
  std::span<const uint8_t> container_;
  std::string checkError_;
};

// Descrambles buffer[0 .. length rounded up to a multiple of 8) in place. Always returns 1;
// with enable 0 or length 0 the buffer is untouched.
uint8_t Descramble(uint8_t* buffer, uint32_t length, uint8_t enable);

// The container built into the program.
const TFirmwareImage& EmbeddedImage();

}  // namespace tavo
