#include "emulator/virtual_drive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "image/identity_format.h"

namespace tavo {
namespace {

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;

constexpr TSenseCode kInvalidOpcode{0x05, 0x20, 0x00};
constexpr TSenseCode kInvalidFieldInCdb{0x05, 0x24, 0x00};
constexpr TSenseCode kParameterListLength{0x05, 0x1A, 0x00};
constexpr TSenseCode kAddressOutOfRange{0x05, 0x21, 0x00};
constexpr TSenseCode kSavingNotSupported{0x05, 0x39, 0x00};
constexpr TSenseCode kSequenceError{0x05, 0x2C, 0x00};
constexpr TSenseCode kOperationInProgress{0x02, 0x04, 0x07};
constexpr TSenseCode kMediumNotPresent{0x02, 0x3A, 0x00};
constexpr TSenseCode kMediumNotPresentTrayOpen{0x02, 0x3A, 0x02};

constexpr size_t kInquirySize = 96;
constexpr uint32_t kInquiryTemplateOffset = 0x20;
constexpr size_t kCapsPageSize = 28;
constexpr size_t kModeHeaderSize = 8;
constexpr uint32_t kPatchInfoSize = 65536;
constexpr uint32_t kMemoryPiece = 256;
constexpr uint32_t kFlashStatusSize = 10;

uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool IsVendorCdb(const uint8_t* cdb, size_t cdbLength) {
  return cdbLength >= 12 && cdb[0] == 0x5A && (cdb[2] == 0x38 || cdb[2] == 0x33) &&
         cdb[3] == 0x41 && cdb[4] == 0x53;
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
    case 0x00:
      return TCommandKind::TestUnitReady;
    case 0x03:
      return TCommandKind::RequestSense;
    case 0x12:
      return TCommandKind::Inquiry;
    case 0x4E:
      return TCommandKind::StopPlayScan;
    case 0x1B:
      return TCommandKind::StartStopUnit;
    case 0x5A:
      break;
    default:
      return TCommandKind::Unknown;
  }
  if (!IsVendorCdb(cdb, cdbLength)) return TCommandKind::ModeSense;
  if (cdb[2] == 0x33) return cdb[5] == 0x10 ? TCommandKind::ReadFirmware : TCommandKind::Unknown;
  switch (cdb[5]) {
    case 0xA0: {
      const uint8_t mode = cdb[6];
      const uint8_t selector = cdb[7];
      if (mode == 4) return TCommandKind::FlashCommit;
      if (mode == 5 && selector < kFlashBanks) return TCommandKind::FlashDownload;
      if (mode == 5 && selector >= 0xE0) return TCommandKind::FlashRetry;
      return TCommandKind::FlashDownload;  // an invalid selector still names a download
    }
    case 0xC0:
      return TCommandKind::FlashStatus;
    case 0x11:
      return TCommandKind::ReadMemory;
    case 0xA3:
      return TCommandKind::ReadPatchInfo;
    case 0xA2:
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
  std::array<std::optional<std::vector<uint8_t>>, kFlashBanks> held;
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
    r.status = kStatusGood;
    r.transferred = transferred;
    return r;
  }
  static TCommandResult Check(TSenseCode s) {
    TCommandResult r;
    r.status = kStatusCheckCondition;
    r.sense[0] = 0x70;
    r.sense[2] = s.key;
    r.sense[7] = 0x0A;
    r.sense[12] = s.asc;
    r.sense[13] = s.ascq;
    r.senseLength = 18;
    return r;
  }
  // Whether the host offered a data-in buffer of at least needed bytes.
  bool InOk(uint32_t needed) const {
    return needed == 0 || (direction == TDataDirection::In && length >= needed);
  }
  // Returns data into the host buffer after InOk approved it.
  TCommandResult Reply(const uint8_t* src, uint32_t n) {
    if (!InOk(n)) return Check(kInvalidFieldInCdb);
    if (n > 0) std::memcpy(data, src, n);
    return Good(n);
  }
  // Validates a data-out phase of needed bytes; nullopt when fine.
  std::optional<TCommandResult> OutCheck(uint32_t needed) const {
    if (needed == 0) return std::nullopt;
    if (direction != TDataDirection::Out) return Check(kInvalidFieldInCdb);
    if (length < needed) return Check(kParameterListLength);
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
  inquiry[0] = 0x05;
  inquiry[1] = 0x80;
  inquiry[2] = 0x00;
  inquiry[3] = 0x32;
  inquiry[4] = static_cast<uint8_t>(kInquirySize - 5);
  PutField(&inquiry[8], profile.vendor, 8);
  PutField(&inquiry[16], profile.product, 16);
  PutField(&inquiry[32], profile.revision, 4);
  inquiry[38] = profile.family[0];
  inquiry[39] = profile.family[1];

  // The older firmware: a deterministic pseudo-random fill per profile seed.
  flash.assign(static_cast<size_t>(kFlashBanks) * kFlashBankSize, 0);
  uint32_t x = profile.firmwareSeed != 0 ? profile.firmwareSeed : 0x1234567u;
  for (auto& b : flash) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  // Nothing before the template may look like one (byte 0 of a template is 05h).
  for (uint32_t p = 0; p < kInquiryTemplateOffset; ++p) {
    if (flash[p] == 0x05) flash[p] = 0x06;
  }
  std::memcpy(&flash[kInquiryTemplateOffset], inquiry.data(), inquiry.size());
  const std::vector<uint8_t> marker = Utf16Le(profile.marker);
  if (!marker.empty() && marker.size() <= kFlashBankSize &&
      profile.markerOffset <= kFlashBankSize - marker.size()) {
    std::memcpy(&flash[profile.markerOffset], marker.data(), marker.size());
  }
}

// After programming the drive runs the new firmware: its INQUIRY answers with the identity,
// revision and family of the template the new bank 0 carries, when it carries one.
void TVirtualDrive::TImpl::AdoptTemplateFromFlash() {
  const std::optional<size_t> at = FindInquiryTemplate({flash.data(), kFlashBankSize});
  if (!at) return;
  const uint8_t* t = &flash[*at];
  std::memcpy(&inquiry[8], t + 8, 28);
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
  if (kind == TCommandKind::Unknown) return Check(kInvalidOpcode);
  const size_t needed = (cdb[0] == 0x4E || cdb[0] == 0x5A) ? 10 : 6;
  if (cdbLength < needed) return Check(kInvalidFieldInCdb);

  UpdateProgramming();
  if (programming && kind != TCommandKind::Inquiry && kind != TCommandKind::FlashStatus &&
      kind != TCommandKind::RequestSense) {
    return Check(kOperationInProgress);
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
      return Check(kInvalidOpcode);
  }
}

TCommandResult TVirtualDrive::TImpl::TestUnitReady() {
  if (trayOpen) return Check(kMediumNotPresentTrayOpen);
  if (!mediumPresent) return Check(kMediumNotPresent);
  return Good(0);
}

// Sense is returned with every CHECK CONDITION, so REQUEST SENSE only reports the
// drive's standing condition: programming, no medium, or nothing.
TCommandResult TVirtualDrive::TImpl::RequestSense(const uint8_t* cdb) {
  TSenseCode now{};
  if (programming) {
    now = kOperationInProgress;
  } else if (trayOpen) {
    now = kMediumNotPresentTrayOpen;
  } else if (!mediumPresent) {
    now = kMediumNotPresent;
  }
  const TCommandResult sense = Check(now);
  return Reply(sense.sense.data(), std::min<uint32_t>(cdb[4], sense.senseLength));
}

TCommandResult TVirtualDrive::TImpl::Inquiry(const uint8_t* cdb) {
  // Vital product data pages are not offered.
  if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return Check(kInvalidFieldInCdb);
  const uint32_t alloc = Be16(&cdb[3]);
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
  const uint8_t control = cdb[2] >> 6;
  const uint8_t page = cdb[2] & 0x3F;
  if (control == 3) return Check(kSavingNotSupported);
  if (page != 0x2A && page != 0x3F) return Check(kInvalidFieldInCdb);
  std::array<uint8_t, kModeHeaderSize + kCapsPageSize> reply{};
  const uint16_t dataLength = static_cast<uint16_t>(reply.size() - 2);
  reply[0] = static_cast<uint8_t>(dataLength >> 8);
  reply[1] = static_cast<uint8_t>(dataLength);
  uint8_t* pg = &reply[kModeHeaderSize];
  pg[0] = profile.capsPageByte0;
  pg[1] = static_cast<uint8_t>(kCapsPageSize - 2);
  if (control != 1) {  // changeable values: none
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
  const uint32_t alloc = Be16(&cdb[7]);
  return Reply(reply.data(), std::min<uint32_t>(alloc, reply.size()));
}

TCommandResult TVirtualDrive::TImpl::FlashWrite(const uint8_t* cdb) {
  const uint8_t mode = cdb[6];
  const uint8_t selector = cdb[7];
  const uint16_t dataLength = Be16(&cdb[8]);
  const uint16_t value = Be16(&cdb[10]);
  if (auto bad = OutCheck(dataLength)) return *bad;

  if (mode == 5 && selector < kFlashBanks) {
    if (profile.refuseDownload) return Check(profile.downloadRefusal);
    held[selector] = std::vector<uint8_t>(data, data + dataLength);
    phase = TFlashPhase::Receiving;
    return Good(dataLength);
  }
  if (mode == 5 && (selector & 0xF0) == 0xE0) {
    return Commit(profile.commitMode5E0, selector, value, dataLength);
  }
  if (mode == 5 && (selector & 0xF0) == 0xF0) {
    return Commit(profile.commitMode5F0, selector, value, dataLength);
  }
  if (mode == 4 && (selector & 0xF0) == 0xE0) {
    return Commit(profile.commitMode4, selector, value, dataLength);
  }
  return Check(kInvalidFieldInCdb);
}

TCommandResult TVirtualDrive::TImpl::Commit(const TCommitRule& rule, uint8_t selector,
                                            uint16_t value, uint16_t dataLength) {
  lastCommitSelector = selector;
  const unsigned count = selector & 0x0F;
  if (!rule.accept) {
    phase = TFlashPhase::CommitRefused;
    return Check(rule.refusal);
  }
  if (dataLength != 0 || count > kFlashBanks) {
    phase = TFlashPhase::CommitRefused;
    return Check(kInvalidFieldInCdb);
  }
  for (unsigned b = 0; b < count; ++b) {
    if (!held[b]) {
      phase = TFlashPhase::CommitRefused;
      return Check(kSequenceError);
    }
  }
  bool corrupted = !profile.corruptProgramming;
  for (unsigned b = 0; b < count; ++b) {
    const std::vector<uint8_t>& bytes = *held[b];
    uint8_t* bank = &flash[static_cast<size_t>(b) * kFlashBankSize];
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
  std::array<uint8_t, kFlashStatusSize> reply{};
  reply[0] = static_cast<uint8_t>(phase);
  for (unsigned b = 0; b < kFlashBanks; ++b) {
    if (held[b]) reply[1] |= static_cast<uint8_t>(1u << b);
  }
  reply[2] = static_cast<uint8_t>(lastChecksum >> 8);
  reply[3] = static_cast<uint8_t>(lastChecksum);
  reply[4] = programming ? 1 : 0;
  reply[5] = lastCommitSelector;
  return Reply(reply.data(), kFlashStatusSize);
}

TCommandResult TVirtualDrive::TImpl::ReadMemory(const uint8_t* cdb) {
  const uint32_t offset = Be16(&cdb[6]);
  const uint8_t bank = cdb[9];
  if (bank >= kFlashBanks) return Check(kInvalidFieldInCdb);
  if (offset + kMemoryPiece > kFlashBankSize) return Check(kAddressOutOfRange);
  return Reply(&flash[static_cast<size_t>(bank) * kFlashBankSize + offset], kMemoryPiece);
}

TCommandResult TVirtualDrive::TImpl::ReadPatchInfo() {
  if (!InOk(kPatchInfoSize)) return Check(kInvalidFieldInCdb);
  std::memset(data, 0, kPatchInfoSize);
  if (profile.patchDescriptor) {
    std::memcpy(data, profile.patchDescriptor->data(), profile.patchDescriptor->size());
  }
  return Good(kPatchInfoSize);
}

TCommandResult TVirtualDrive::TImpl::WritePatch(const uint8_t* cdb) {
  const uint8_t bank = cdb[7];
  const uint32_t offset = Be16(&cdb[8]);
  const uint32_t n = cdb[11];
  if (bank >= kFlashBanks) return Check(kInvalidFieldInCdb);
  if (offset + n > kFlashBankSize) return Check(kAddressOutOfRange);
  if (auto bad = OutCheck(n)) return *bad;
  if (n > 0) std::memcpy(&flash[static_cast<size_t>(bank) * kFlashBankSize + offset], data, n);
  return Good(n);
}

TCommandResult TVirtualDrive::TImpl::ReadFirmware(const uint8_t* cdb) {
  const uint32_t n = Be16(&cdb[8]);  // at most FFFFh: within bank 0
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
    result = TImpl::Check(kInvalidOpcode);
  } else {
    result = d.Dispatch(cdb, cdbLength, kind);
  }
  if (result.status == kStatusGood && direction == TDataDirection::In) {
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
  if (cdb != nullptr) std::memcpy(rec.cdb.data(), cdb, std::min<size_t>(cdbLength, 12));
  rec.kind = kind;
  rec.length = length;
  rec.direction = direction;
  rec.status = result.status;
  if (result.senseLength > 0) rec.sense = {result.sense[2], result.sense[12], result.sense[13]};
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
  if (bank >= kFlashBanks) return 0;
  length = std::min(length, kFlashBankSize);
  const uint8_t* p = &drive.Flash()[static_cast<size_t>(bank) * kFlashBankSize];
  uint32_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += p[i];
  return static_cast<uint16_t>(sum);
}

}  // namespace tavo
