// How the drive names a CDB: the command kinds that handlers and faults are keyed by.
#include "drive/scsi.h"
#include "emulator/virtual_drive.h"

namespace tavo {
namespace {

bool IsVendorCdb(const uint8_t* cdb, size_t cdbLength) {
  return cdbLength >= scsi::kCdbLength && cdb[0] == scsi::kOpModeSense10 &&
         (cdb[2] == scsi::kVendorSignature || cdb[2] == scsi::kVendorSignatureAlt) &&
         cdb[3] == scsi::kVendorSignature3 && cdb[4] == scsi::kVendorSignature4;
}

}  // namespace

TCommandKind ClassifyCdb(const uint8_t* cdb, size_t cdbLength) {
  if (cdb == nullptr || cdbLength == 0) return TCommandKind::Unknown;
  switch (cdb[0]) {
    case scsi::kOpTestUnitReady:
      return TCommandKind::TestUnitReady;
    case scsi::kOpRequestSense:
      return TCommandKind::RequestSense;
    case scsi::kOpInquiry:
      return TCommandKind::Inquiry;
    case scsi::kOpStopPlayScan:
      return TCommandKind::StopPlayScan;
    case scsi::kOpStartStopUnit:
      return TCommandKind::StartStopUnit;
    case scsi::kOpModeSense10:
      break;
    default:
      return TCommandKind::Unknown;
  }
  if (!IsVendorCdb(cdb, cdbLength)) return TCommandKind::ModeSense;
  const uint8_t subOp = cdb[scsi::kVendorSubOpByte];
  if (cdb[2] == scsi::kVendorSignatureAlt) {
    return subOp == scsi::kSubReadFirmware ? TCommandKind::ReadFirmware : TCommandKind::Unknown;
  }
  switch (subOp) {
    case scsi::kSubFlashWrite: {
      const uint8_t mode = cdb[scsi::kFlashWriteModeByte];
      const uint8_t selector = cdb[scsi::kFlashWriteSelectorByte];
      if (mode == scsi::kFlashModeCommit) return TCommandKind::FlashCommit;
      if (mode == scsi::kFlashModeDownload && selector < scsi::kMaxBanks)
        return TCommandKind::FlashDownload;
      if (mode == scsi::kFlashModeDownload && selector >= scsi::kSelectorCommitE0) {
        return TCommandKind::FlashRetry;
      }
      return TCommandKind::FlashDownload;  // an invalid selector still names a download
    }
    case scsi::kSubFlashStatus:
      return TCommandKind::FlashStatus;
    case scsi::kSubReadMemory:
      return TCommandKind::ReadMemory;
    case scsi::kSubReadPatchInfo:
      return TCommandKind::ReadPatchInfo;
    case scsi::kSubWritePatch:
      return TCommandKind::WritePatch;
    default:
      return TCommandKind::Unknown;
  }
}

}  // namespace tavo
