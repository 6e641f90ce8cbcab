// The commands a virtual drive carries out, one handler each, behind one dispatch.
#include <algorithm>
#include <cstring>

#include "emulator/drive_state.h"

namespace tavo {
namespace {

constexpr size_t kCapsPageSize = 28;

// MODE SENSE page control (top two bits of the page byte).
constexpr uint8_t kPageControlChangeable = 1;
constexpr uint8_t kPageControlSaved = 3;

// What a lenient drive answers with GOOD instead of decoding: every vendor command and every
// opcode it does not know.
bool IsLenientlyAnswered(TCommandKind kind) {
  switch (kind) {
    case TCommandKind::FlashDownload:
    case TCommandKind::FlashCommit:
    case TCommandKind::FlashRetry:
    case TCommandKind::FlashStatus:
    case TCommandKind::ReadMemory:
    case TCommandKind::ReadPatchInfo:
    case TCommandKind::WritePatch:
    case TCommandKind::ReadFirmware:
    case TCommandKind::Unknown:
      return true;
    default:
      return false;
  }
}

}  // namespace

TCommandResult TVirtualDrive::TImpl::Dispatch(const uint8_t* cdb, size_t cdbLength,
                                              TCommandKind kind) {
  if (profile.lenient && IsLenientlyAnswered(kind)) {
    if (direction != TDataDirection::In) return Good(0);
    if (data != nullptr) std::memset(data, 0, length);
    return Good(length);
  }
  if (kind == TCommandKind::Unknown) return Check(scsi::kSenseInvalidOpcode);
  const size_t needed =
      (cdb[0] == scsi::kOpStopPlayScan || cdb[0] == scsi::kOpModeSense10) ? 10 : 6;
  if (cdbLength < needed) return Check(scsi::kSenseInvalidFieldInCdb);

  UpdateProgramming();
  if (programming && kind != TCommandKind::Inquiry && kind != TCommandKind::FlashStatus &&
      kind != TCommandKind::RequestSense) {
    return Check(scsi::kSenseOperationInProgress);
  }
  switch (kind) {
    case TCommandKind::TestUnitReady:
      return TestUnitReady();
    case TCommandKind::RequestSense:
      return RequestSense(cdb);
    case TCommandKind::Inquiry:
      return Inquiry(cdb);
    case TCommandKind::StopPlayScan:
      return Good(0);
    case TCommandKind::StartStopUnit:
      return StartStopUnit(cdb);
    case TCommandKind::ModeSense:
      return ModeSense(cdb);
    case TCommandKind::FlashDownload:
    case TCommandKind::FlashCommit:
    case TCommandKind::FlashRetry:
      return FlashWrite(cdb);
    case TCommandKind::FlashStatus:
      return FlashStatus();
    case TCommandKind::ReadMemory:
      return ReadMemory(cdb);
    case TCommandKind::ReadPatchInfo:
      return ReadPatchInfo();
    case TCommandKind::WritePatch:
      return WritePatch(cdb);
    case TCommandKind::ReadFirmware:
      return ReadFirmware(cdb);
    default:
      return Check(scsi::kSenseInvalidOpcode);
  }
}

TCommandResult TVirtualDrive::TImpl::TestUnitReady() {
  if (trayOpen) return Check(scsi::kSenseMediumNotPresentTrayOpen);
  if (!mediumPresent) return Check(scsi::kSenseMediumNotPresent);
  return Good(0);
}

// Sense is returned with every CHECK CONDITION, so REQUEST SENSE only reports the
// drive's standing condition: programming, no medium, or nothing.
TCommandResult TVirtualDrive::TImpl::RequestSense(const uint8_t* cdb) {
  TSenseCode now{};
  if (programming) {
    now = scsi::kSenseOperationInProgress;
  } else if (trayOpen) {
    now = scsi::kSenseMediumNotPresentTrayOpen;
  } else if (!mediumPresent) {
    now = scsi::kSenseMediumNotPresent;
  }
  const TCommandResult sense = Check(now);
  return Reply(sense.sense.data(), std::min<uint32_t>(cdb[4], sense.senseLength));
}

TCommandResult TVirtualDrive::TImpl::Inquiry(const uint8_t* cdb) {
  // Vital product data pages are not offered.
  if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return Check(scsi::kSenseInvalidFieldInCdb);
  const uint32_t alloc = scsi::GetBe16(&cdb[scsi::kInquiryAllocationByte]);
  const uint32_t n = std::min<uint32_t>(alloc, kInquirySize);
  return Reply(inquiry.data(), n);
}

TCommandResult TVirtualDrive::TImpl::StartStopUnit(const uint8_t* cdb) {
  const bool start = (cdb[4] & 0x01) != 0;
  const bool loej = (cdb[4] & 0x02) != 0;
  if (loej) trayOpen = !start;  // eject opens the tray, load closes it
  return Good(0);
}

TCommandResult TVirtualDrive::TImpl::ModeSense(const uint8_t* cdb) {
  const uint8_t control = cdb[scsi::kModeSensePageByte] >> 6;
  const uint8_t page = cdb[scsi::kModeSensePageByte] & 0x3F;
  if (control == kPageControlSaved) return Check(scsi::kSenseSavingNotSupported);
  if (page != scsi::kCapabilitiesPage && page != scsi::kAllPages)
    return Check(scsi::kSenseInvalidFieldInCdb);
  std::array<uint8_t, scsi::kModeHeaderLength + kCapsPageSize> reply{};
  const uint16_t dataLength = static_cast<uint16_t>(reply.size() - 2);
  reply[0] = static_cast<uint8_t>(dataLength >> 8);
  reply[1] = static_cast<uint8_t>(dataLength);
  uint8_t* pg = &reply[scsi::kModeHeaderLength];
  pg[0] = profile.capsPageByte0;
  pg[1] = static_cast<uint8_t>(kCapsPageSize - 2);
  if (control != kPageControlChangeable) {  // changeable values: none
    pg[2] = profile.capsByte2;
    pg[3] = profile.capsByte3;
    pg[4] = 0x71;  // audio play, composite, digital ports, multi-session
    pg[5] = 0x63;  // CD-DA commands, accurate stream, read bar code
    pg[6] = 0x29;  // tray loader, eject, lock
    pg[7] = 0x23;
    pg[8] = 0x1B;  // maximum read speed (obsolete field)
    pg[9] = 0x90;
    pg[10] = 0x01;  // volume levels
    pg[11] = 0x00;
    pg[12] = 0x02;  // buffer size 512 KiB
    pg[13] = 0x00;
  }
  const uint32_t alloc = scsi::GetBe16(&cdb[scsi::kModeSenseAllocationByte]);
  return Reply(reply.data(), std::min<uint32_t>(alloc, reply.size()));
}

TCommandResult TVirtualDrive::TImpl::FlashWrite(const uint8_t* cdb) {
  const uint8_t mode = cdb[scsi::kFlashWriteModeByte];
  const uint8_t selector = cdb[scsi::kFlashWriteSelectorByte];
  const uint16_t dataLength = scsi::GetBe16(&cdb[scsi::kFlashWriteLengthByte]);
  const uint16_t value = scsi::GetBe16(&cdb[scsi::kFlashWriteValueByte]);
  if (auto bad = OutCheck(dataLength)) return *bad;

  if (mode == scsi::kFlashModeDownload && selector < scsi::kMaxBanks) {
    if (profile.refuseDownload && selector >= profile.refuseDownloadFrom) {
      return Check(profile.downloadRefusal);
    }
    held[selector] = std::vector<uint8_t>(data, data + dataLength);
    phase = TFlashPhase::Receiving;
    return Good(dataLength);
  }
  const uint8_t base = selector & 0xF0;
  if (mode == scsi::kFlashModeDownload && base == scsi::kSelectorCommitE0) {
    return Commit(profile.commitMode5E0, selector, value, dataLength);
  }
  if (mode == scsi::kFlashModeDownload && base == scsi::kSelectorCommitF0) {
    return Commit(profile.commitMode5F0, selector, value, dataLength);
  }
  if (mode == scsi::kFlashModeCommit && base == scsi::kSelectorCommitE0) {
    return Commit(profile.commitMode4, selector, value, dataLength);
  }
  return Check(scsi::kSenseInvalidFieldInCdb);
}

TCommandResult TVirtualDrive::TImpl::Commit(const TCommitRule& rule, uint8_t selector,
                                            uint16_t value, uint16_t dataLength) {
  lastCommitSelector = selector;
  const unsigned count = selector & 0x0F;
  if (!rule.accept) {
    phase = TFlashPhase::CommitRefused;
    return Check(rule.refusal);
  }
  if (dataLength != 0 || count > scsi::kMaxBanks) {
    phase = TFlashPhase::CommitRefused;
    return Check(scsi::kSenseInvalidFieldInCdb);
  }
  for (unsigned b = 0; b < count; ++b) {
    if (!held[b]) {
      phase = TFlashPhase::CommitRefused;
      return Check(scsi::kSenseSequenceError);
    }
  }
  bool corrupted = !profile.corruptProgramming;
  for (unsigned b = 0; b < count; ++b) {
    const std::vector<uint8_t>& bytes = *held[b];
    uint8_t* bank = &flash[static_cast<size_t>(b) * scsi::kBankSize];
    std::copy(bytes.begin(), bytes.end(), bank);  // at most FFFFh bytes: fits the bank
    if (!corrupted && !bytes.empty()) {
      bank[0] = static_cast<uint8_t>(bank[0] + 1);
      corrupted = true;
    }
  }
  for (auto& h : held) h.reset();
  if (count > 0) StoredChanged();
  lastChecksum = value;
  programming = true;
  programmingEndMs = clock.NowMs() + profile.programmingTimeMs;
  phase = TFlashPhase::Programming;
  return Good(0);
}

TCommandResult TVirtualDrive::TImpl::FlashStatus() {
  if (profile.refuseFlashStatus) return Check(scsi::kSenseInvalidOpcode);
  std::array<uint8_t, scsi::kFlashStatusLength> reply{};
  reply[0] = static_cast<uint8_t>(phase);
  for (unsigned b = 0; b < scsi::kMaxBanks; ++b) {
    if (held[b]) reply[1] |= static_cast<uint8_t>(1u << b);
  }
  reply[2] = static_cast<uint8_t>(lastChecksum >> 8);
  reply[3] = static_cast<uint8_t>(lastChecksum);
  reply[4] = programming ? 1 : 0;
  reply[5] = lastCommitSelector;
  return Reply(reply.data(), scsi::kFlashStatusLength);
}

TCommandResult TVirtualDrive::TImpl::ReadMemory(const uint8_t* cdb) {
  const uint32_t offset = scsi::GetBe16(&cdb[scsi::kReadMemoryOffsetByte]);
  const uint8_t bank = cdb[scsi::kReadMemoryBankByte];
  if (bank >= scsi::kMaxBanks) return Check(scsi::kSenseInvalidFieldInCdb);
  if (offset + scsi::kMemoryPieceLength > scsi::kBankSize)
    return Check(scsi::kSenseAddressOutOfRange);
  const TCommandResult r =
      Reply(&flash[static_cast<size_t>(bank) * scsi::kBankSize + offset], scsi::kMemoryPieceLength);
  if (r.status == scsi::kStatusGood) DisturbRead(data, r.transferred);
  return r;
}

TCommandResult TVirtualDrive::TImpl::ReadPatchInfo() {
  if (!InOk(scsi::kPatchInfoLength)) return Check(scsi::kSenseInvalidFieldInCdb);
  std::memset(data, 0, scsi::kPatchInfoLength);
  if (profile.patchDescriptor) {
    std::memcpy(data, profile.patchDescriptor->data(), profile.patchDescriptor->size());
  }
  return Good(scsi::kPatchInfoLength);
}

TCommandResult TVirtualDrive::TImpl::WritePatch(const uint8_t* cdb) {
  const uint8_t bank = cdb[scsi::kWritePatchBankByte];
  const uint32_t offset = scsi::GetBe16(&cdb[scsi::kWritePatchOffsetByte]);
  const uint32_t n = cdb[scsi::kWritePatchLengthByte];
  if (bank >= scsi::kMaxBanks) return Check(scsi::kSenseInvalidFieldInCdb);
  if (offset + n > scsi::kBankSize) return Check(scsi::kSenseAddressOutOfRange);
  if (auto bad = OutCheck(n)) return *bad;
  if (n > 0) {
    std::memcpy(&flash[static_cast<size_t>(bank) * scsi::kBankSize + offset], data, n);
    StoredChanged();
  }
  return Good(n);
}

TCommandResult TVirtualDrive::TImpl::ReadFirmware(const uint8_t* cdb) {
  const uint32_t n =
      scsi::GetBe16(&cdb[scsi::kReadFirmwareLengthByte]);  // at most FFFFh: within bank 0
  const TCommandResult r = Reply(flash.data(), n);
  if (r.status == scsi::kStatusGood) DisturbRead(data, r.transferred);
  return r;
}

void TVirtualDrive::TImpl::DisturbRead(uint8_t* bytes, uint32_t n) {
  if (!profile.unstableReads || n == 0) return;
  // A multiplicative hash of the read's number: where and how the reply differs changes
  // from one read to the next, so two reads of the same bank never agree.
  const uint32_t x = ++memoryReads * 2654435761u;
  bytes[x % n] ^= static_cast<uint8_t>((x >> 24) | 1);
}

}  // namespace tavo
