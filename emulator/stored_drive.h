// What a virtual drive keeps between program runs, and the file format that holds it.
//
// A drive given a file (--emulate=PROFILE@FILE) powers on from that file instead of from its
// profile's firmware, and the file is written again whenever the drive's memory or INQUIRY
// data change, so that a later program run meets the drive as the earlier one left it.
//
// File layout (all integers little-endian):
//   8 bytes   "TAVOVDRV"
//   4 bytes   format version (1)
//   2 bytes   length of the profile name, then the name (ASCII, at most 64 bytes)
//   96 bytes  INQUIRY data (identity, revision, family bytes)
//   4 bytes   memory size (always 8 x 64 KiB), then the memory itself
//   64 bytes  SHA-256 of everything before, in lower-case hex
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavo {

inline constexpr size_t kStoredInquirySize = 96;
// Largest file of this format (a profile name of 64 bytes).
inline constexpr size_t kStoredDriveMaxFileSize =
    8 + 4 + 2 + 64 + kStoredInquirySize + 4 + 8 * 65536 + 64;
// DecodeStoredDrive's reason for bytes that do not begin as this format's file.
inline constexpr char kNotAStoredDrive[] = "it is not a virtual drive file";

struct TStoredDrive {
  std::string profile;                                // the profile the drive was made from
  std::array<uint8_t, kStoredInquirySize> inquiry{};  // what INQUIRY answers
  std::vector<uint8_t> memory;  // 8 x 64 KiB: exactly what the drive's memory reads return
};

std::vector<uint8_t> EncodeStoredDrive(const TStoredDrive& drive);

// No value when bytes are not a whole, intact file of this format; why then says what is
// wrong in a few words: "it is not a virtual drive file" when the file does not begin as
// one, else what is damaged ("it is cut short (12 bytes)", "its checksum does not match its
// content", ...).
std::optional<TStoredDrive> DecodeStoredDrive(std::span<const uint8_t> bytes, std::string& why);

}  // namespace tavo
