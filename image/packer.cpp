#include "image/packer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/firmware_image.h"
#include "image/scramble_scheme.h"

namespace tavo::pack {

namespace {

std::string Hex(unsigned value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", width, value);
  return text;
}

void PutLe16(std::vector<uint8_t>& out, size_t offset, uint16_t value) {
  out[offset] = static_cast<uint8_t>(value & 0xFF);
  out[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// Header layout of the carried image: magic, reserved 00h + seven blanks, the two flags,
// six blanks, checksum, bank count, eight lengths, twelve blanks.
void WriteHeader(std::vector<uint8_t>& out, const TPackInput& in, uint16_t checksum) {
  static constexpr char kMagic[] = "TAVO FILE SYSTEM";
  std::memcpy(out.data(), kMagic, 16);
  out[16] = 0x00;
  std::fill(out.begin() + 17, out.begin() + 24, ' ');
  out[24] = in.IdentityCheckFlag;
  out[25] = in.ScrambleFlag;
  std::fill(out.begin() + 26, out.begin() + 32, ' ');
  PutLe16(out, 32, checksum);
  PutLe16(out, 34, static_cast<uint16_t>(in.Banks.size()));
  for (size_t n = 0; n < kMaxBanks; ++n) {
    const uint16_t length = n < in.Banks.size() ? static_cast<uint16_t>(in.Banks[n].size()) : 0;
    PutLe16(out, 36 + 2 * n, length);
  }
  std::fill(out.begin() + 52, out.begin() + 64, ' ');
}

}  // namespace

uint16_t PlainChecksum(const std::vector<std::vector<uint8_t>>& banks) {
  uint32_t sum = 0;
  for (const auto& bank : banks) {
    for (uint8_t b : bank) sum += b;
  }
  return static_cast<uint16_t>(sum);
}

uint8_t ScrambleSeedByte(unsigned bank) {
  return static_cast<uint8_t>(0xC3 + bank * 0x4D);
}

void ScrambleBank(std::span<const uint8_t> plain, uint8_t seedByte, std::span<uint8_t> out) {
  if (plain.empty() || out.size() < plain.size()) return;
  // Descramble turns stored byte s into keyterm - s, with the key seeded from stored byte
  // 0. The same subtraction undoes itself, so stored = keyterm - plain for every byte
  // after the first; stored byte 0 is free and becomes the seed.
  uint8_t key = static_cast<uint8_t>(seedByte + scramble::kSeedOffset);
  for (size_t i = 0; i < plain.size(); ++i) {
    const unsigned j = i % 8;
    if (i > 0 && j == 0) key = static_cast<uint8_t>(key * scramble::kKeyMultiplier);
    out[i] = static_cast<uint8_t>(key + j * scramble::kPositionStep - plain[i]);
  }
  out[0] = seedByte;
}

bool PackContainer(const TPackInput& in, std::vector<uint8_t>& out, std::string& error) {
  if (in.Banks.size() > kMaxBanks) {
    error = "too many banks: " + std::to_string(in.Banks.size()) + " given, at most 8";
    return false;
  }
  const bool scramble = in.ScrambleBanks.value_or(in.ScrambleFlag == 0x01);
  for (size_t n = 0; n < in.Banks.size(); ++n) {
    const auto& bank = in.Banks[n];
    if (bank.size() > 0xFFFF) {
      error = "bank " + std::to_string(n) + " holds " + std::to_string(bank.size()) +
              " bytes, at most 65535 fit a bank length";
      return false;
    }
    if (scramble && !bank.empty() && bank[0] != scramble::kSeedOffset) {
      error = "bank " + std::to_string(n) + " starts with " + Hex(bank[0], 2) +
              "h: a scrambled bank must start with the seed offset " +
              Hex(scramble::kSeedOffset, 2) + "h, descrambling always yields it there";
      return false;
    }
  }
  const uint16_t sum = PlainChecksum(in.Banks);
  if (in.Checksum && *in.Checksum != sum && !in.AllowChecksumMismatch) {
    error = "checksum " + Hex(*in.Checksum, 4) + "h given, but the plain banks sum to " +
            Hex(sum, 4) + "h";
    return false;
  }

  // Slot padding is never read; erased-flash bytes make it easy to spot in a dump.
  out.assign(kImageHeaderSize + in.Banks.size() * kBankSize, 0xFF);
  WriteHeader(out, in, in.Checksum.value_or(sum));
  for (size_t n = 0; n < in.Banks.size(); ++n) {
    const auto& plain = in.Banks[n];
    std::span<uint8_t> slot(out.data() + kImageHeaderSize + n * kBankSize, plain.size());
    if (scramble) {
      ScrambleBank(plain, ScrambleSeedByte(static_cast<unsigned>(n)), slot);
    } else {
      std::copy(plain.begin(), plain.end(), slot.begin());
    }
  }
  error.clear();
  return true;
}

}  // namespace tavo::pack
