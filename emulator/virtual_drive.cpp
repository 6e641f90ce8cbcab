#include "emulator/virtual_drive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "image/identity_format.h"

namespace tavo {
namespace {

constexpr uint32_t kFlashSize = scsi::kMaxBanks * scsi::kBankSize;
constexpr size_t kInquirySize = 96;
constexpr uint32_t kInquiryTemplateOffset = 0x20;
constexpr size_t kCapsPageSize = 28;

// MODE SENSE page control (top two bits of the page byte).
constexpr uint8_t kPageControlChangeable = 1;
constexpr uint8_t kPageControlSaved = 3;

bool IsVendorCdb(const uint8_t* cdb, size_t cdbLength) {
  return cdbLength >= scsi::kCdbLength && cdb[0] == scsi::kOpModeSense10 &&
         (cdb[2] == scsi::kVendorSignature || cdb[2] == scsi::kVendorSignatureAlt) &&
         cdb[3] == scsi::kVendorSignature3 && cdb[4] == scsi::kVendorSignature4;
}

// Fixed-length field of INQUIRY data: the text, blank-padded or cut to width.
void PutField(uint8_t* out, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0x20;
  }
}

bool MatchesKind(TCommandKind wanted, TCommandKind actual) {
  if (wanted == TCommandKind::Any || wanted == actual) return true;
  return wanted == TCommandKind::FlashWrite &&
         (actual == TCommandKind::FlashDownload || actual == TCommandKind::FlashCommit ||
          actual == TCommandKind::FlashRetry);
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

TFault TFault::Check(TCommandKind kind, TSenseCode sense, int count) {
  TFault f;
  f.type = TType::CheckCondition;
  f.kind = kind;
  f.sense = sense;
  f.count = count;
  return f;
}

TFault TFault::Refuse(TCommandKind kind, int error, int count) {
  TFault f;
  f.type = TType::SystemError;
  f.kind = kind;
  f.systemError = error;
  f.count = count;
  return f;
}

TFault TFault::Lose(TCommandKind kind, int count) {
  TFault f;
  f.type = TType::LostCompletion;
  f.kind = kind;
  f.count = count;
  return f;
}

TFault TFault::Delay(TCommandKind kind, uint32_t ms, int count) {
  TFault f;
  f.type = TType::Latency;
  f.kind = kind;
  f.latencyMs = ms;
  f.count = count;
  return f;
}

TFault TFault::Hostile(TCommandKind kind, std::vector<uint8_t> bytes, uint32_t offset, int count) {
  TFault f;
  f.type = TType::HostileReply;
  f.kind = kind;
  f.reply = std::move(bytes);
  f.replyOffset = offset;
  f.count = count;
  return f;
}

struct TVirtualDrive::TImpl {
  TImpl(const TDriveProfile& p, TClock& c) : profile(p), clock(c) {}

  TDriveProfile profile;
  TClock& clock;
  std::vector<uint8_t> flash;
  std::array<std::optional<std::vector<uint8_t>>, scsi::kMaxBanks> held;
  TFlashPhase phase = TFlashPhase::Idle;
  uint16_t lastChecksum = 0;
  uint8_t lastCommitSelector = 0;
  bool programming = false;
  uint64_t programmingEndMs = 0;
  bool mediumPresent = true;
  bool trayOpen = false;
  std::array<uint8_t, kInquirySize> inquiry{};
  std::vector<TFault> faults;
  std::vector<TCommandRecord> history;

  // Per-command context.
  uint8_t* data = nullptr;
  uint32_t length = 0;
  TDataDirection direction = TDataDirection::None;

  void PowerOn();
  void UpdateProgramming();
  void AdoptTemplateFromFlash();

  TCommandResult Good(uint32_t transferred) const {
    TCommandResult r;
    r.status = scsi::kStatusGood;
    r.transferred = transferred;
    return r;
  }
  static TCommandResult Check(TSenseCode s) {
    TCommandResult r;
    r.status = scsi::kStatusCheckCondition;
    r.sense[0] = scsi::kSenseCurrentFixed;
    r.sense[scsi::kSenseKeyByte] = s.key;
    r.sense[scsi::kSenseAdditionalLengthByte] =
        scsi::kFixedSenseLength - (scsi::kSenseAdditionalLengthByte + 1);
    r.sense[scsi::kSenseAscByte] = s.asc;
    r.sense[scsi::kSenseAscqByte] = s.ascq;
    r.senseLength = scsi::kFixedSenseLength;
    return r;
  }
  // Whether the host offered a data-in buffer of at least needed bytes.
  bool InOk(uint32_t needed) const {
    return needed == 0 || (direction == TDataDirection::In && length >= needed);
  }
  // Returns data into the host buffer after InOk approved it.
  TCommandResult Reply(const uint8_t* src, uint32_t n) {
    if (!InOk(n)) return Check(scsi::kSenseInvalidFieldInCdb);
    if (n > 0) std::memcpy(data, src, n);
    return Good(n);
  }
  // Validates a data-out phase of needed bytes; nullopt when fine.
  std::optional<TCommandResult> OutCheck(uint32_t needed) const {
    if (needed == 0) return std::nullopt;
    if (direction != TDataDirection::Out) return Check(scsi::kSenseInvalidFieldInCdb);
    if (length < needed) return Check(scsi::kSenseParameterListLength);
    return std::nullopt;
  }

  TCommandResult Dispatch(const uint8_t* cdb, size_t cdbLength, TCommandKind kind);
  TCommandResult TestUnitReady();
  TCommandResult RequestSense(const uint8_t* cdb);
  TCommandResult Inquiry(const uint8_t* cdb);
  TCommandResult StartStopUnit(const uint8_t* cdb);
  TCommandResult ModeSense(const uint8_t* cdb);
  TCommandResult FlashWrite(const uint8_t* cdb);
  TCommandResult Commit(const TCommitRule& rule, uint8_t selector, uint16_t value,
                        uint16_t dataLength);
  TCommandResult FlashStatus();
  TCommandResult ReadMemory(const uint8_t* cdb);
  TCommandResult ReadPatchInfo();
  TCommandResult WritePatch(const uint8_t* cdb);
  TCommandResult ReadFirmware(const uint8_t* cdb);
};

void TVirtualDrive::TImpl::PowerOn() {
  // INQUIRY data: CD/DVD device, removable, 96 bytes, identity, revision, family.
  inquiry.fill(0);
  inquiry[0] = scsi::kDeviceTypeOptical;
  inquiry[1] = 0x80;
  inquiry[2] = 0x00;
  inquiry[3] = 0x32;
  inquiry[4] = static_cast<uint8_t>(kInquirySize - 5);
  PutField(&inquiry[scsi::kInquiryVendorByte], profile.vendor, scsi::kInquiryVendorLength);
  PutField(&inquiry[scsi::kInquiryProductByte], profile.product, scsi::kInquiryProductLength);
  PutField(&inquiry[scsi::kInquiryRevisionByte], profile.revision, scsi::kInquiryRevisionLength);
  inquiry[38] = profile.family[0];
  inquiry[39] = profile.family[1];

  // The older firmware: a deterministic pseudo-random fill per profile seed.
  flash.assign(kFlashSize, 0);
  uint32_t x = profile.firmwareSeed != 0 ? profile.firmwareSeed : 0x1234567u;
  for (auto& b : flash) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  // Nothing before the template may look like one (byte 0 of a template is 05h).
  for (uint32_t p = 0; p < kInquiryTemplateOffset; ++p) {
    if (flash[p] == scsi::kDeviceTypeOptical) flash[p] = scsi::kDeviceTypeOptical + 1;
  }
  std::memcpy(&flash[kInquiryTemplateOffset], inquiry.data(), inquiry.size());
  const std::vector<uint8_t> marker = Utf16Le(profile.marker);
  if (!marker.empty() && marker.size() <= scsi::kBankSize &&
      profile.markerOffset <= scsi::kBankSize - marker.size()) {
    std::memcpy(&flash[profile.markerOffset], marker.data(), marker.size());
  }
}

// After programming the drive runs the new firmware: its INQUIRY answers with the identity,
// revision and family of the template the new bank 0 carries, when it carries one.
void TVirtualDrive::TImpl::AdoptTemplateFromFlash() {
  const std::optional<size_t> at = FindInquiryTemplate({flash.data(), scsi::kBankSize});
  if (!at) return;
  const uint8_t* t = &flash[*at];
  std::memcpy(&inquiry[scsi::kInquiryVendorByte], t + scsi::kInquiryVendorByte,
              scsi::kInquiryIdentityLength + scsi::kInquiryRevisionLength);
  inquiry[38] = t[38];
  inquiry[39] = t[39];
}

void TVirtualDrive::TImpl::UpdateProgramming() {
  if (!programming || profile.ready == TReadyBehaviour::NeverReady) return;
  if (clock.NowMs() < programmingEndMs) return;
  programming = false;
  phase = TFlashPhase::Programmed;
  AdoptTemplateFromFlash();
  if (profile.ready == TReadyBehaviour::EmptyAfterProgramming) mediumPresent = false;
}

TCommandResult TVirtualDrive::TImpl::Dispatch(const uint8_t* cdb, size_t cdbLength,
                                              TCommandKind kind) {
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
    if (profile.refuseDownload) return Check(profile.downloadRefusal);
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
  lastChecksum = value;
  programming = true;
  programmingEndMs = clock.NowMs() + profile.programmingTimeMs;
  phase = TFlashPhase::Programming;
  return Good(0);
}

TCommandResult TVirtualDrive::TImpl::FlashStatus() {
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
  return Reply(&flash[static_cast<size_t>(bank) * scsi::kBankSize + offset],
               scsi::kMemoryPieceLength);
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
  if (n > 0) std::memcpy(&flash[static_cast<size_t>(bank) * scsi::kBankSize + offset], data, n);
  return Good(n);
}

TCommandResult TVirtualDrive::TImpl::ReadFirmware(const uint8_t* cdb) {
  const uint32_t n =
      scsi::GetBe16(&cdb[scsi::kReadFirmwareLengthByte]);  // at most FFFFh: within bank 0
  return Reply(flash.data(), n);
}

TVirtualDrive::TVirtualDrive(const TDriveProfile& profile, TClock& clock)
    : impl_(std::make_unique<TImpl>(profile, clock)) {
  impl_->PowerOn();
}

TVirtualDrive::~TVirtualDrive() = default;

TCommandResult TVirtualDrive::Execute(const uint8_t* cdb, size_t cdbLength, uint8_t* data,
                                      uint32_t length, TDataDirection direction) {
  TImpl& d = *impl_;
  if (data == nullptr) length = 0;
  const TCommandKind kind = ClassifyCdb(cdb, cdbLength);

  // Faults: a refusal, a lost completion or an injected CHECK CONDITION replaces the
  // command; latency and hostile replies come on top of it.
  uint32_t latency = 0;
  const TFault* terminal = nullptr;
  TFault terminalCopy;
  std::vector<TFault> hostile;
  for (TFault& f : d.faults) {
    if (f.count == 0 || !MatchesKind(f.kind, kind)) continue;
    const bool isTerminal = f.type == TFault::TType::CheckCondition ||
                            f.type == TFault::TType::SystemError ||
                            f.type == TFault::TType::LostCompletion;
    if (isTerminal && terminal != nullptr) continue;
    if (isTerminal) {
      terminalCopy = f;
      terminal = &terminalCopy;
    } else if (f.type == TFault::TType::Latency) {
      latency += f.latencyMs;
    } else {
      hostile.push_back(f);
    }
    if (f.count > 0) --f.count;
  }
  std::erase_if(d.faults, [](const TFault& f) { return f.count == 0; });

  TCommandResult result;
  if (terminal != nullptr && terminal->type == TFault::TType::SystemError) {
    result.systemError = terminal->systemError;
    return result;
  }
  if (terminal != nullptr && terminal->type == TFault::TType::LostCompletion) {
    result.lostCompletion = true;
    return result;
  }

  d.data = data;
  d.length = length;
  d.direction = direction;
  if (terminal != nullptr) {
    result = TImpl::Check(terminal->sense);
  } else if (cdb == nullptr || cdbLength == 0) {
    result = TImpl::Check(scsi::kSenseInvalidOpcode);
  } else {
    result = d.Dispatch(cdb, cdbLength, kind);
  }
  if (result.status == scsi::kStatusGood && direction == TDataDirection::In) {
    for (const TFault& f : hostile) {
      if (f.replyOffset >= length) continue;
      const uint32_t n =
          std::min<uint32_t>(static_cast<uint32_t>(f.reply.size()), length - f.replyOffset);
      std::memcpy(data + f.replyOffset, f.reply.data(), n);
      result.transferred = std::max(result.transferred, f.replyOffset + n);
    }
  }
  result.latencyMs = latency;
  d.data = nullptr;
  d.length = 0;

  TCommandRecord rec;
  if (cdb != nullptr) std::memcpy(rec.cdb.data(), cdb, std::min(cdbLength, scsi::kCdbLength));
  rec.kind = kind;
  rec.length = length;
  rec.direction = direction;
  rec.status = result.status;
  if (result.senseLength > 0) {
    rec.sense = {result.sense[scsi::kSenseKeyByte], result.sense[scsi::kSenseAscByte],
                 result.sense[scsi::kSenseAscqByte]};
  }
  rec.timeMs = d.clock.NowMs();
  d.history.push_back(rec);
  return result;
}

const std::vector<uint8_t>& TVirtualDrive::Flash() const {
  return impl_->flash;
}
const TDriveProfile& TVirtualDrive::Profile() const {
  return impl_->profile;
}
void TVirtualDrive::InjectFault(TFault fault) {
  impl_->faults.push_back(std::move(fault));
}
void TVirtualDrive::ClearFaults() {
  impl_->faults.clear();
}

TFlashPhase TVirtualDrive::Phase() const {
  return impl_->phase;
}

bool TVirtualDrive::Programming() {
  impl_->UpdateProgramming();
  return impl_->programming;
}

const std::vector<TCommandRecord>& TVirtualDrive::History() const {
  return impl_->history;
}
void TVirtualDrive::ClearHistory() {
  impl_->history.clear();
}

uint16_t FlashBankSum(const TVirtualDrive& drive, unsigned bank, uint32_t length) {
  if (bank >= scsi::kMaxBanks) return 0;
  length = std::min(length, scsi::kBankSize);
  const uint8_t* p = &drive.Flash()[static_cast<size_t>(bank) * scsi::kBankSize];
  uint32_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += p[i];
  return static_cast<uint16_t>(sum);
}

}  // namespace tavo
