#include "emulator/replay_bus.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tavo {

namespace {

constexpr uint32_t kDefaultTimeoutMs = kPassThroughTimeoutSec * 1000u;
constexpr uint8_t SS_ABORT_FAIL = 0xE3;

std::string SpacedHex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    char text[4];
    std::snprintf(text, sizeof text, "%s%02X", out.empty() ? "" : " ", unsigned{b});
    out += text;
  }
  return out;
}

std::string DataText(const nlohmann::json& data) {
  if (data.is_null()) return "";
  if (data.is_string()) {
    const std::string hex = data.get<std::string>();
    return ", data " + (hex.size() > 32 ? hex.substr(0, 32) + "..." : hex);
  }
  return ", data sha256 " + data.value("sha256", std::string()).substr(0, 16) + "...";
}

// "/dev/sr0: 5A 00 38 ... (out, 65534 bytes, data sha256 1a2b...)"
std::string Describe(const std::string& device, const std::vector<uint8_t>& cdb,
                     const std::string& direction, uint32_t length, const nlohmann::json& dataOut) {
  return device + ": " + SpacedHex(cdb) + " (" + direction + ", " + std::to_string(length) +
         " bytes" + DataText(dataOut) + ")";
}

}  // namespace

TReplayBus::TReplayBus(TRecording recording, TClock& clock,
                       std::function<void(const std::string&)> report)
    : recording_(std::move(recording)), clock_(clock), report_(std::move(report)) {}

const TRecordedCommand* TReplayBus::Match(const std::string& device, const uint8_t* cdb,
                                          size_t cdbLength, uint8_t direction, uint32_t length,
                                          const uint8_t* data) {
  if (Diverged()) return nullptr;
  const std::vector<uint8_t> sentCdb(cdb, cdb + cdbLength);
  const std::span<const uint8_t> out = direction == kDirOut && data != nullptr
                                           ? std::span<const uint8_t>(data, length)
                                           : std::span<const uint8_t>();
  const nlohmann::json dataOut = nlohmann::json::parse(rec::DataOutJson(out).dump());
  const std::string dir = rec::DirectionName(direction);
  const std::string sent = Describe(device, sentCdb, dir, length, dataOut);
  const uint64_t seq = next_ + 1;
  if (next_ >= recording_.commands.size()) {
    divergence_ = "replay: command " + std::to_string(seq) +
                  " was sent after the recording ended (" +
                  std::to_string(recording_.commands.size()) + " commands): sent " + sent +
                  ". The replayed drive answers no more commands.";
  } else {
    const TRecordedCommand& c = recording_.commands[next_];
    if (c.device == device && c.cdb == sentCdb && c.direction == dir && c.length == length &&
        rec::DataOutMatches(c.dataOut, out)) {
      ++next_;
      carried_.AddSent(c.seq, out);
      return &c;
    }
    divergence_ = "replay: command " + std::to_string(seq) +
                  " differs from the recording: recorded " +
                  Describe(c.device, c.cdb, c.direction, c.length, c.dataOut) + ", sent " + sent +
                  ". The replayed drive answers no more commands.";
  }
  if (report_) report_(divergence_);
  return nullptr;
}

bool TReplayBus::FillDataIn(const TRecordedCommand& c, uint8_t* data, uint32_t length) {
  if (c.dataIn.is_null()) return true;
  std::string why;
  const std::optional<std::vector<uint8_t>> bytes = rec::DataInBytes(c.dataIn, carried_, why);
  if (!bytes) {
    divergence_ = "replay: command " + std::to_string(c.seq) + ": " + why +
                  ". The replayed drive answers no more commands.";
    if (report_) report_(divergence_);
    return false;
  }
  // Kept as the recorder kept it, for later replies that refer to it.
  carried_.AddReceived(c.seq, *bytes);
  if (data != nullptr) std::memcpy(data, bytes->data(), std::min<size_t>(bytes->size(), length));
  return true;
}

// ---- pass-through ------------------------------------------------------------------

int TReplayBus::SlotCount() {
  return recording_.slotCount.value_or(0);
}

bool TReplayBus::IsOpticalSlot(int slot) {
  const auto it = recording_.slots.find(slot);
  return it != recording_.slots.end() && it->second.optical;
}

std::string TReplayBus::SlotName(int slot) {
  const auto it = recording_.slots.find(slot);
  if (it != recording_.slots.end() && !it->second.name.empty()) return it->second.name;
  return "replay:sr" + std::to_string(slot);
}

TDeviceHandle TReplayBus::Open(int slot, int& error) {
  const auto it = recording_.opens.find(slot);
  if (it == recording_.opens.end()) {
    error = ENOENT;
    return kInvalidHandle;
  }
  error = it->second.error;
  if (it->second.handle != kInvalidHandle) names_[it->second.handle] = SlotName(slot);
  return it->second.handle;
}

int TReplayBus::Execute(TDeviceHandle handle, TPassThroughBlock& block) {
  TScsiPassThroughDirect& sptd = block.Sptd;
  const uint8_t dir = PassThroughDirection(sptd.DataIn);
  const auto name = names_.find(handle);
  const TRecordedCommand* c = Match(name != names_.end() ? name->second : std::to_string(handle),
                                    sptd.Cdb, std::min<size_t>(sptd.CdbLength, sizeof sptd.Cdb),
                                    dir, sptd.DataTransferLength, sptd.DataBuffer);
  if (c == nullptr) {
    // A drive that no longer answers: the kernel gives up after the command's time-out.
    clock_.Sleep(sptd.TimeOutValue != 0 ? sptd.TimeOutValue * 1000u : kDefaultTimeoutMs);
    sptd.ScsiStatus = 0;
    return ETIMEDOUT;
  }
  if (c->ms > 0) clock_.Sleep(static_cast<uint32_t>(c->ms));
  if (dir == kDirIn && !FillDataIn(*c, sptd.DataBuffer, sptd.DataTransferLength)) {
    sptd.ScsiStatus = 0;
    return ETIMEDOUT;
  }
  sptd.ScsiStatus = c->status;
  if (c->sense && !c->sense->empty()) {
    std::memcpy(block.SenseBuf, c->sense->data(),
                std::min(c->sense->size(), sizeof block.SenseBuf));
  }
  return c->transportError;
}

// ---- sg driver ---------------------------------------------------------------------

bool TReplayBus::Load() {
  return recording_.aspiLoaded.value_or(false);
}

uint32_t TReplayBus::GetSupportInfo() {
  return recording_.supportInfo.value_or(0);
}

uint32_t TReplayBus::SendGetDevType(TSrbGDEVBlock& srb) {
  const auto it = recording_.probes.find({srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun});
  if (it == recording_.probes.end()) {
    srb.SRB_Status = SS_NO_DEVICE;
  } else {
    srb.SRB_Status = it->second.status;
    srb.SRB_DeviceType = it->second.deviceType;
  }
  return srb.SRB_Status;
}

void TReplayBus::Deliver(const TRecordedCommand& c, TSrbExecSCSICmd& srb) {
  if (SrbDirection(srb.SRB_Flags) == kDirIn && !FillDataIn(c, srb.SRB_BufPointer, srb.SRB_BufLen)) {
    srb.SRB_Status = SS_ERR;
    return;
  }
  if (c.sense && !c.sense->empty()) {
    std::memcpy(srb.SenseArea, c.sense->data(), std::min(c.sense->size(), sizeof srb.SenseArea));
  }
  srb.SRB_HaStat = c.haStatus;
  srb.SRB_TargStat = c.targetStatus;
  srb.SRB_Status = c.status;
}

uint32_t TReplayBus::SendExec(TSrbExecSCSICmd& srb) {
  pendingSrb_ = nullptr;
  pending_ = nullptr;
  char device[32];
  std::snprintf(device, sizeof device, "%u:%u:%u", unsigned{srb.SRB_HaId}, unsigned{srb.SRB_Target},
                unsigned{srb.SRB_Lun});
  const TRecordedCommand* c =
      Match(device, srb.CDBByte, std::min<size_t>(srb.SRB_CDBLen, sizeof srb.CDBByte),
            SrbDirection(srb.SRB_Flags), srb.SRB_BufLen, srb.SRB_BufPointer);
  accessError_ = c != nullptr ? c->accessError : 0;
  if (c != nullptr && c->submitStatus != SS_PENDING) {
    if (c->ms > 0) clock_.Sleep(static_cast<uint32_t>(c->ms));
    Deliver(*c, srb);
    return srb.SRB_Status;
  }
  pendingSrb_ = &srb;
  pending_ = c;  // none after the replay ended: the request never completes
  srb.SRB_Status = SS_PENDING;
  return SS_PENDING;
}

TWaitResult TReplayBus::WaitEvent(TEventHandle event, uint32_t timeoutMs) {
  if (pendingSrb_ == nullptr || pendingSrb_->SRB_PostProc != event) return TWaitResult::Failed;
  if (pending_ == nullptr) {
    clock_.Sleep(timeoutMs);
    return TWaitResult::TimedOut;
  }
  const TRecordedCommand& c = *pending_;
  if (c.ms > 0) clock_.Sleep(static_cast<uint32_t>(c.ms));
  if (c.wait == "signalled") {
    Deliver(c, *pendingSrb_);
    pendingSrb_ = nullptr;
    pending_ = nullptr;
    return TWaitResult::Signalled;
  }
  return c.wait == "timeout" ? TWaitResult::TimedOut : TWaitResult::Failed;
}

uint32_t TReplayBus::SendAbort(TSrbAbort& srb) {
  if (srb.SRB_Cmd != SC_ABORT_SRB || pendingSrb_ == nullptr || srb.SRB_ToAbort != pendingSrb_) {
    srb.SRB_Status = SS_ABORT_FAIL;
    return srb.SRB_Status;
  }
  pendingSrb_->SRB_Status = SS_ABORTED;
  pendingSrb_ = nullptr;
  pending_ = nullptr;
  srb.SRB_Status = SS_COMP;
  return srb.SRB_Status;
}

int TReplayBus::TakeAccessError() {
  return std::exchange(accessError_, 0);
}

std::string TReplayBus::DeviceName(uint8_t haId, uint8_t target, uint8_t lun) {
  const auto it = recording_.probes.find({haId, target, lun});
  return it != recording_.probes.end() ? it->second.name : std::string();
}

}  // namespace tavo
