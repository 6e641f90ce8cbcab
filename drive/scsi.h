// The SCSI vocabulary of the program: operation codes, the vendor command's fields, the
// named sense codes, the transfer sizes and the number of drive slots. Everything that
// builds, decodes or checks a command (TAtapi, the flash procedure, the virtual drive, the
// tests) takes its bytes from here, so each value is written once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tavo::scsi {

// --- Operation codes (byte 0 of a CDB) ---
inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpRequestSense = 0x03;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpStartStopUnit = 0x1B;
inline constexpr uint8_t kOpStopPlayScan = 0x4E;
inline constexpr uint8_t kOpModeSense10 = 0x5A;

// Every CDB the program sends is 12 bytes long.
inline constexpr size_t kCdbLength = 12;
using TCdb = std::array<uint8_t, kCdbLength>;

// Two-byte CDB and reply fields are big-endian.
constexpr void PutBe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value & 0xFF);
}
constexpr uint16_t GetBe16(const uint8_t* at) {
  return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

// INQUIRY: allocation length in bytes 3 and 4 (older drives read only byte 4). The
// reply's peripheral device type (byte 0, low five bits) is 05h for a CD/DVD device; vendor,
// product and revision follow at fixed places, vendor and product together forming the
// 24-byte identity.
inline constexpr size_t kInquiryAllocationByte = 3;  // two bytes
inline constexpr uint8_t kDeviceTypeOptical = 0x05;
inline constexpr size_t kInquiryVendorByte = 8;
inline constexpr size_t kInquiryVendorLength = 8;
inline constexpr size_t kInquiryProductByte = 16;
inline constexpr size_t kInquiryProductLength = 16;
inline constexpr size_t kInquiryIdentityLength = kInquiryVendorLength + kInquiryProductLength;
inline constexpr size_t kInquiryRevisionByte = 32;
inline constexpr size_t kInquiryRevisionLength = 4;

// MODE SENSE(10) of the MMC capabilities page: page code in byte 2, allocation length in
// bytes 7 and 8. The page follows the 8-byte mode parameter header directly.
inline constexpr size_t kModeSensePageByte = 2;        // page control in the top two bits
inline constexpr size_t kModeSenseAllocationByte = 7;  // two bytes
inline constexpr uint8_t kCapabilitiesPage = 0x2A;
inline constexpr uint8_t kAllPages = 0x3F;
inline constexpr size_t kModeHeaderLength = 8;

// --- The vendor command ---
// It reuses MODE SENSE(10): byte 2 holds a signature byte where the page code would be,
// bytes 3 and 4 the fixed signature, byte 5 the sub-operation.
inline constexpr uint8_t kVendorSignature = 0x38;     // byte 2, most sub-operations
inline constexpr uint8_t kVendorSignatureAlt = 0x33;  // byte 2, the firmware read
inline constexpr uint8_t kVendorSignature3 = 0x41;    // byte 3
inline constexpr uint8_t kVendorSignature4 = 0x53;    // byte 4
inline constexpr size_t kVendorSubOpByte = 5;

// Sub-operations (byte 5).
inline constexpr uint8_t kSubFlashWrite = 0xA0;
inline constexpr uint8_t kSubFlashStatus = 0xC0;
inline constexpr uint8_t kSubReadMemory = 0x11;
inline constexpr uint8_t kSubReadPatchInfo = 0xA3;
inline constexpr uint8_t kSubWritePatch = 0xA2;
inline constexpr uint8_t kSubReadFirmware = 0x10;  // with kVendorSignatureAlt

// FlashWrite modes (byte 6) and selector bases (byte 7).
inline constexpr uint8_t kFlashModeCommit = 4;
inline constexpr uint8_t kFlashModeDownload = 5;
inline constexpr uint8_t kSelectorCommitE0 = 0xE0;
inline constexpr uint8_t kSelectorCommitF0 = 0xF0;

// Where the sub-operations keep their arguments (two-byte fields start at the named byte).
inline constexpr size_t kFlashWriteModeByte = 6;
inline constexpr size_t kFlashWriteSelectorByte = 7;
inline constexpr size_t kFlashWriteLengthByte = 8;
inline constexpr size_t kFlashWriteValueByte = 10;
inline constexpr size_t kReadMemoryOffsetByte = 6;
inline constexpr size_t kReadMemoryBankByte = 9;
inline constexpr size_t kWritePatchBankByte = 7;
inline constexpr size_t kWritePatchOffsetByte = 8;
inline constexpr size_t kWritePatchLengthByte = 11;
inline constexpr size_t kReadFirmwareLengthByte = 8;

// The template of a vendor command: MODE SENSE(10) opcode, signature, sub-operation, and
// zero in every argument byte.
constexpr TCdb VendorCdb(uint8_t subOp, uint8_t signature = kVendorSignature) {
  TCdb cdb{};
  cdb[0] = kOpModeSense10;
  cdb[2] = signature;
  cdb[3] = kVendorSignature3;
  cdb[4] = kVendorSignature4;
  cdb[kVendorSubOpByte] = subOp;
  return cdb;
}

// --- Transfer sizes ---
inline constexpr uint32_t kInquiryLength = 50;
inline constexpr uint32_t kCapabilitiesLength = 256;
inline constexpr uint32_t kFlashStatusLength = 10;
inline constexpr uint32_t kMemoryPieceLength = 256;  // one ReadMemory reply
inline constexpr uint32_t kPatchInfoLength = 65536;
inline constexpr uint32_t kBankSize = 65536;  // one bank of the drive's flash and of the image
inline constexpr unsigned kMaxBanks = 8;      // banks in the drive's flash and in an image

// Candidate drive slots examined by discovery (/dev/sr0 .. /dev/sr24 and the virtual bus).
inline constexpr int kDriveSlots = 25;

// --- Status and sense ---
inline constexpr uint8_t kStatusGood = 0x00;
inline constexpr uint8_t kStatusCheckCondition = 0x02;

// Sense keys.
inline constexpr uint8_t kNoSense = 0x0;
inline constexpr uint8_t kRecoveredError = 0x1;
inline constexpr uint8_t kNotReady = 0x2;
inline constexpr uint8_t kMediumError = 0x3;
inline constexpr uint8_t kHardwareError = 0x4;
inline constexpr uint8_t kIllegalRequest = 0x5;
inline constexpr uint8_t kUnitAttention = 0x6;
inline constexpr uint8_t kDataProtect = 0x7;
inline constexpr uint8_t kAbortedCommand = 0xB;

// Fixed-format sense data: response code 70h (current error), key in byte 2 (low four
// bits), additional length in byte 7, ASC and ASCQ in bytes 12 and 13; 18 bytes in all.
inline constexpr uint8_t kSenseCurrentFixed = 0x70;
inline constexpr size_t kSenseKeyByte = 2;
inline constexpr size_t kSenseAdditionalLengthByte = 7;
inline constexpr size_t kSenseAscByte = 12;
inline constexpr size_t kSenseAscqByte = 13;
inline constexpr size_t kFixedSenseLength = 18;

// Sense key, additional sense code and qualifier of a CHECK CONDITION.
struct TSenseCode {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  friend constexpr bool operator==(const TSenseCode&, const TSenseCode&) = default;
};

// Additional sense codes the program names.
inline constexpr uint8_t kAscLogicalUnitNotReady = 0x04;
inline constexpr uint8_t kAscUnrecoveredReadError = 0x11;
inline constexpr uint8_t kAscParameterListLength = 0x1A;
inline constexpr uint8_t kAscInvalidOpcode = 0x20;
inline constexpr uint8_t kAscAddressOutOfRange = 0x21;
inline constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
inline constexpr uint8_t kAscInvalidFieldInParameterList = 0x26;
inline constexpr uint8_t kAscPowerOnReset = 0x29;
inline constexpr uint8_t kAscSequenceError = 0x2C;
inline constexpr uint8_t kAscSavingNotSupported = 0x39;
inline constexpr uint8_t kAscMediumNotPresent = 0x3A;

inline constexpr TSenseCode kSenseInvalidOpcode{kIllegalRequest, kAscInvalidOpcode, 0x00};
inline constexpr TSenseCode kSenseInvalidFieldInCdb{kIllegalRequest, kAscInvalidFieldInCdb, 0x00};
inline constexpr TSenseCode kSenseParameterListLength{kIllegalRequest, kAscParameterListLength,
                                                      0x00};
inline constexpr TSenseCode kSenseAddressOutOfRange{kIllegalRequest, kAscAddressOutOfRange, 0x00};
inline constexpr TSenseCode kSenseInvalidFieldInParameterList{
    kIllegalRequest, kAscInvalidFieldInParameterList, 0x00};
inline constexpr TSenseCode kSenseSavingNotSupported{kIllegalRequest, kAscSavingNotSupported, 0x00};
inline constexpr TSenseCode kSenseSequenceError{kIllegalRequest, kAscSequenceError, 0x00};
inline constexpr TSenseCode kSenseOperationInProgress{kNotReady, kAscLogicalUnitNotReady, 0x07};
inline constexpr TSenseCode kSenseMediumNotPresent{kNotReady, kAscMediumNotPresent, 0x00};
inline constexpr TSenseCode kSenseMediumNotPresentTrayOpen{kNotReady, kAscMediumNotPresent, 0x02};
inline constexpr TSenseCode kSensePowerOnReset{kUnitAttention, kAscPowerOnReset, 0x00};
inline constexpr TSenseCode kSenseUnrecoveredReadError{kMediumError, kAscUnrecoveredReadError,
                                                       0x00};

// Readable names: "ILLEGAL REQUEST", "MEDIUM NOT PRESENT - TRAY OPEN". Unknown values give
// a hex form ("sense key 0Fh", "ASC/ASCQ 55h/01h") rather than nothing. The key may be
// the whole sense byte 2: only its low four bits are the key.
std::string SenseKeyName(uint8_t key);
std::string AdditionalSenseName(uint8_t asc, uint8_t ascq);
// "ILLEGAL REQUEST: INVALID FIELD IN CDB (5/24h/00h)".
std::string DescribeSense(const TSenseCode& sense);

}  // namespace tavo::scsi
