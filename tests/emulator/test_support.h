// Helpers shared by the virtual-drive tests: CDB builders (from the program's SCSI
// vocabulary) and a drive harness.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "drive/scsi.h"
#include "emulator/profiles.h"
#include "emulator/virtual_drive.h"

namespace tavo::test {

using scsi::TCdb;

inline TCdb Vendor(uint8_t sub, uint8_t sig = scsi::kVendorSignature) {
  return scsi::VendorCdb(sub, sig);
}
inline TCdb FlashWriteCdb(uint8_t mode, uint8_t selector, uint16_t length, uint16_t value) {
  TCdb c = Vendor(scsi::kSubFlashWrite);
  c[scsi::kFlashWriteModeByte] = mode;
  c[scsi::kFlashWriteSelectorByte] = selector;
  scsi::PutBe16(&c[scsi::kFlashWriteLengthByte], length);
  scsi::PutBe16(&c[scsi::kFlashWriteValueByte], value);
  return c;
}
inline TCdb ReadMemoryCdb(uint8_t bank, uint16_t offset) {
  TCdb c = Vendor(scsi::kSubReadMemory);
  scsi::PutBe16(&c[scsi::kReadMemoryOffsetByte], offset);
  c[scsi::kReadMemoryBankByte] = bank;
  return c;
}
inline TCdb WritePatchCdb(uint8_t bank, uint16_t offset, uint8_t length) {
  TCdb c = Vendor(scsi::kSubWritePatch);
  c[scsi::kWritePatchBankByte] = bank;
  scsi::PutBe16(&c[scsi::kWritePatchOffsetByte], offset);
  c[scsi::kWritePatchLengthByte] = length;
  return c;
}
inline TCdb ReadFirmwareCdb(uint16_t length) {
  TCdb c = Vendor(scsi::kSubReadFirmware, scsi::kVendorSignatureAlt);
  scsi::PutBe16(&c[scsi::kReadFirmwareLengthByte], length);
  return c;
}
inline TCdb InquiryCdb(uint16_t allocation) {
  TCdb c{scsi::kOpInquiry};
  scsi::PutBe16(&c[scsi::kInquiryAllocationByte], allocation);
  return c;
}
inline TCdb RequestSenseCdb(uint8_t allocation) {
  return {scsi::kOpRequestSense, 0, 0, 0, allocation};
}
inline TCdb CapabilitiesCdb() {
  TCdb c{scsi::kOpModeSense10};
  c[scsi::kModeSensePageByte] = scsi::kCapabilitiesPage;
  scsi::PutBe16(&c[scsi::kModeSenseAllocationByte], scsi::kCapabilitiesLength);
  return c;
}
inline TCdb TurCdb() {
  return {scsi::kOpTestUnitReady};
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
      const TCommandResult r = Out(FlashWriteCdb(scsi::kFlashModeDownload, static_cast<uint8_t>(b),
                                                 static_cast<uint16_t>(banks[b].size()), 0),
                                   banks[b]);
      if (r.status != scsi::kStatusGood) return r;
    }
    return Run(FlashWriteCdb(scsi::kFlashModeCommit,
                             static_cast<uint8_t>(scsi::kSelectorCommitE0 + banks.size()), 0, sum));
  }

  TVirtualClock clock;
  TVirtualDrive drive;
};

inline TSenseCode SenseOf(const TCommandResult& r) {
  return {r.sense[scsi::kSenseKeyByte], r.sense[scsi::kSenseAscByte],
          r.sense[scsi::kSenseAscqByte]};
}

}  // namespace tavo::test

namespace tavo::scsi {
// Failed expectations name the sense ("ILLEGAL REQUEST: INVALID FIELD IN CDB (5/24h/00h)").
inline void PrintTo(const TSenseCode& s, std::ostream* os) {
  *os << DescribeSense(s);
}
}  // namespace tavo::scsi
