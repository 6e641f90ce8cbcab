#include "emulator/virtual_drive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "emulator/drive_state.h"

namespace tavo {

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
  const TFaultPass faults = TakeFaults(d.faults, kind);
  const std::optional<TFault>& terminal = faults.terminal;

  TCommandResult result;
  if (terminal && terminal->type == TFault::TType::SystemError) {
    result.systemError = terminal->systemError;
    return result;
  }
  if (terminal && terminal->type == TFault::TType::LostCompletion) {
    result.lostCompletion = true;
    return result;
  }

  d.data = data;
  d.length = length;
  d.direction = direction;
  if (terminal) {
    result = TImpl::Check(terminal->sense);
  } else if (cdb == nullptr || cdbLength == 0) {
    result = TImpl::Check(scsi::kSenseInvalidOpcode);
  } else {
    result = d.Dispatch(cdb, cdbLength, kind);
  }
  if (result.status == scsi::kStatusGood && direction == TDataDirection::In) {
    ApplyHostileReplies(faults.hostile, data, length, result);
  }
  result.latencyMs = faults.latencyMs;
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
TStoredDrive TVirtualDrive::Store() const {
  TStoredDrive stored;
  stored.profile = impl_->profile.name;
  stored.inquiry = impl_->inquiry;
  stored.memory = impl_->flash;
  return stored;
}

bool TVirtualDrive::Load(const TStoredDrive& stored) {
  if (stored.memory.size() != impl_->flash.size()) return false;
  impl_->flash = stored.memory;
  impl_->inquiry = stored.inquiry;
  return true;
}

void TVirtualDrive::OnStoredChange(std::function<void()> hook) {
  impl_->onStoredChange = std::move(hook);
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
