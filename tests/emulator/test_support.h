// Helpers shared by the virtual-drive tests: CDB builders and a drive harness.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_drive.h"

namespace tavo::test {

using TCdb = std::array<uint8_t, 12>;

inline TCdb Vendor(uint8_t sub, uint8_t sig = 0x38) {
  return {0x5A, 0x00, sig, 0x41, 0x53, sub, 0, 0, 0, 0, 0, 0};
}
inline TCdb FlashWriteCdb(uint8_t mode, uint8_t selector, uint16_t length, uint16_t value) {
  TCdb c = Vendor(0xA0);
  c[6] = mode;
  c[7] = selector;
  c[8] = static_cast<uint8_t>(length >> 8);
  c[9] = static_cast<uint8_t>(length);
  c[10] = static_cast<uint8_t>(value >> 8);
  c[11] = static_cast<uint8_t>(value);
  return c;
}
inline TCdb ReadMemoryCdb(uint8_t bank, uint16_t offset) {
  TCdb c = Vendor(0x11);
  c[6] = static_cast<uint8_t>(offset >> 8);
  c[7] = static_cast<uint8_t>(offset);
  c[9] = bank;
  return c;
}
inline TCdb WritePatchCdb(uint8_t bank, uint16_t offset, uint8_t length) {
  TCdb c = Vendor(0xA2);
  c[7] = bank;
  c[8] = static_cast<uint8_t>(offset >> 8);
  c[9] = static_cast<uint8_t>(offset);
  c[11] = length;
  return c;
}
inline TCdb ReadFirmwareCdb(uint16_t length) {
  TCdb c = Vendor(0x10, 0x33);
  c[8] = static_cast<uint8_t>(length >> 8);
  c[9] = static_cast<uint8_t>(length);
  return c;
}
inline TCdb TurCdb() {
  return {};
}

// Bank lengths of the image the program carries.
inline constexpr std::array<uint16_t, 8> kImageBankLengths = {0xBEF0, 0x24E0, 0xACF0, 0xB120,
                                                              0x2B00, 0x2190, 0x9170, 0xFC80};

// Deterministic bank contents, different per bank and from any profile's older firmware.
inline std::vector<uint8_t> BankPattern(unsigned bank, uint32_t length) {
  std::vector<uint8_t> out(length);
  for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(i * 7 + bank * 31 + 3);
  return out;
}

inline bool ContainsUtf16(const uint8_t* data, size_t size, const std::string& text) {
  std::vector<uint8_t> pattern;
  for (char ch : text) {
    pattern.push_back(static_cast<uint8_t>(ch));
    pattern.push_back(0);
  }
  for (size_t p = 0; p + pattern.size() <= size; ++p) {
    if (std::equal(pattern.begin(), pattern.end(), data + p)) return true;
  }
  return false;
}

// One virtual drive on a virtual clock, driven with raw CDBs.
struct TDriveHarness {
  explicit TDriveHarness(const std::string& profile = "default")
      : drive(*FindProfile(profile), clock) {}
  explicit TDriveHarness(const TDriveProfile& profile) : drive(profile, clock) {}

  TCommandResult Run(const TCdb& cdb, std::vector<uint8_t>* data = nullptr,
                     TDataDirection dir = TDataDirection::None) {
    return drive.Execute(cdb.data(), cdb.size(), data ? data->data() : nullptr,
                         data ? static_cast<uint32_t>(data->size()) : 0, dir);
  }
  TCommandResult In(const TCdb& cdb, std::vector<uint8_t>& data) {
    return Run(cdb, &data, TDataDirection::In);
  }
  TCommandResult Out(const TCdb& cdb, std::vector<uint8_t>& data) {
    return Run(cdb, &data, TDataDirection::Out);
  }
  // Downloads the given banks (normal mode) and commits them with mode 4.
  TCommandResult DownloadAndCommit(std::vector<std::vector<uint8_t>>& banks, uint16_t sum) {
    for (size_t b = 0; b < banks.size(); ++b) {
      const TCommandResult r =
          Out(FlashWriteCdb(5, static_cast<uint8_t>(b), static_cast<uint16_t>(banks[b].size()), 0),
              banks[b]);
      if (r.status != 0) return r;
    }
    return Run(FlashWriteCdb(4, static_cast<uint8_t>(0xE0 + banks.size()), 0, sum));
  }

  TVirtualClock clock;
  TVirtualDrive drive;
};

inline TSenseCode SenseOf(const TCommandResult& r) {
  return {r.sense[2], r.sense[12], r.sense[13]};
}

}  // namespace tavo::test

namespace tavo {
inline bool operator==(const TSenseCode& a, const TSenseCode& b) {
  return a.key == b.key && a.asc == b.asc && a.ascq == b.ascq;
}
inline std::ostream& operator<<(std::ostream& os, const TSenseCode& s) {
  return os << std::hex << int(s.key) << "/" << int(s.asc) << "/" << int(s.ascq) << std::dec;
}
}  // namespace tavo
