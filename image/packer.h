// Builds a firmware container from plain bank contents: the 64-byte header, then each bank
// on the fixed 64 KiB stride, scrambled so that Descramble gives the plain bytes back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavo::pack {

struct TPackInput {
  uint8_t IdentityCheckFlag = 0x20;
  uint8_t ScrambleFlag = 0x01;
  // Store the banks scrambled. By default this follows the scramble flag (01h scrambled);
  // set it to build deliberately inconsistent test images.
  std::optional<bool> ScrambleBanks;
  // Header checksum. Absent: the plain byte sum of the banks. Present: written as given,
  // and refused when it differs from that sum unless AllowChecksumMismatch is set.
  std::optional<uint16_t> Checksum;
  bool AllowChecksumMismatch = false;
  // At most eight banks of at most 65,535 bytes each; the bank count is the number given.
  std::vector<std::vector<uint8_t>> Banks;
};

// The 16-bit sum of every plain byte of every bank, as the drive computes it once flashed.
uint16_t PlainChecksum(const std::vector<std::vector<uint8_t>>& banks);

// Byte 0 of the stored (scrambled) bank n. Any value descrambles correctly; it is derived
// from the bank number so that identical banks still differ when stored.
uint8_t ScrambleSeedByte(unsigned bank);

// Scrambles plain into out (same size) so that Descramble(out) == plain. plain[0] must be
// the seed offset, because descrambling always turns byte 0 into it.
void ScrambleBank(std::span<const uint8_t> plain, uint8_t seedByte, std::span<uint8_t> out);

// Writes the container into out. On refusal returns false with a one-line reason in error.
bool PackContainer(const TPackInput& input, std::vector<uint8_t>& out, std::string& error);

}  // namespace tavo::pack
