// TAtapi's command set: one wrapper per drive command.
#include "drive/atapi.h"
#include "drive/scsi.h"

namespace tavo {

// Command set. Each wrapper builds its CDB from the named fields, stores its arguments
// big-endian and sends it to the current drive.

uint8_t TAtapi::TestUnitReady() {
  const scsi::TCdb cdb{scsi::kOpTestUnitReady};
  return ExecCommand(cdb.data(), nullptr, 0, kDirNone);
}

uint8_t TAtapi::Inquiry(uint8_t* buffer) {
  scsi::TCdb cdb{scsi::kOpInquiry};
  scsi::PutBe16(&cdb[scsi::kInquiryAllocationByte], scsi::kInquiryLength);
  return ExecCommand(cdb.data(), buffer, scsi::kInquiryLength, kDirIn);
}

uint8_t TAtapi::StopPlayScan() {
  const scsi::TCdb cdb{scsi::kOpStopPlayScan};
  return ExecCommand(cdb.data(), nullptr, 0, kDirNone);
}

uint8_t TAtapi::ModeSenseCapabilities(uint8_t* buffer) {
  scsi::TCdb cdb{scsi::kOpModeSense10};
  cdb[scsi::kModeSensePageByte] = scsi::kCapabilitiesPage;
  scsi::PutBe16(&cdb[scsi::kModeSenseAllocationByte], scsi::kCapabilitiesLength);
  return ExecCommand(cdb.data(), buffer, scsi::kCapabilitiesLength, kDirIn);
}

uint8_t TAtapi::StartStopUnit() {
  const scsi::TCdb cdb{scsi::kOpStartStopUnit};
  return ExecCommand(cdb.data(), nullptr, 0, kDirNone);
}

uint8_t TAtapi::FlashWrite(uint8_t* data, uint8_t mode, uint8_t selector, uint16_t length,
                           uint16_t value) {
  scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubFlashWrite);
  cdb[scsi::kFlashWriteModeByte] = mode;
  cdb[scsi::kFlashWriteSelectorByte] = selector;
  scsi::PutBe16(&cdb[scsi::kFlashWriteLengthByte], length);
  scsi::PutBe16(&cdb[scsi::kFlashWriteValueByte], value);
  return ExecCommand(cdb.data(), data, length, kDirOut);
}

uint8_t TAtapi::FlashStatus(uint8_t* buffer) {
  const scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubFlashStatus);
  return ExecCommand(cdb.data(), buffer, scsi::kFlashStatusLength, kDirIn);
}

uint8_t TAtapi::ReadMemory(uint8_t* buffer, uint8_t bank, uint16_t offset) {
  scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubReadMemory);
  scsi::PutBe16(&cdb[scsi::kReadMemoryOffsetByte], offset);
  cdb[scsi::kReadMemoryBankByte] = bank;
  return ExecCommand(cdb.data(), buffer, scsi::kMemoryPieceLength, kDirIn);
}

uint8_t TAtapi::ReadPatchInfo(uint8_t* buffer) {
  const scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubReadPatchInfo);
  return ExecCommand(cdb.data(), buffer, scsi::kPatchInfoLength, kDirIn);
}

uint8_t TAtapi::WritePatch(uint8_t* data, uint8_t bank, uint32_t offset, uint8_t length) {
  scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubWritePatch);
  // Only the low 16 bits of the offset travel.
  cdb[scsi::kWritePatchBankByte] = bank;
  scsi::PutBe16(&cdb[scsi::kWritePatchOffsetByte], static_cast<uint16_t>(offset & 0xFFFF));
  cdb[scsi::kWritePatchLengthByte] = length;
  return ExecCommand(cdb.data(), data, length, kDirOut);
}

uint8_t TAtapi::ReadFirmware(uint8_t* buffer, uint16_t length) {
  scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubReadFirmware, scsi::kVendorSignatureAlt);
  scsi::PutBe16(&cdb[scsi::kReadFirmwareLengthByte], length);
  return ExecCommand(cdb.data(), buffer, length, kDirIn);
}

}  // namespace tavo
