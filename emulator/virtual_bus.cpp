#include "emulator/virtual_bus.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "drive/scsi.h"

namespace tavo {
namespace {

constexpr int kTargetsPerAdapter = 8;
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;
constexpr uint8_t SS_ABORT_FAIL = 0xE3;

TDataDirection FromDataIn(uint8_t dataIn) {
  if (dataIn == kDataIn) return TDataDirection::In;
  if (dataIn == kDataOut) return TDataDirection::Out;
  return TDataDirection::None;
}

TDataDirection FromSrbFlags(uint8_t flags) {
  switch (flags & (kDirIn | kDirOut)) {
    case kDirIn:
      return TDataDirection::In;
    case kDirOut:
      return TDataDirection::Out;
    default:
      return TDataDirection::None;
  }
}

// The sense a reader of /dev/sgN gets, copied from the kernel's sg driver (sg_new_read in
// drivers/scsi/sg.c): sense is written only when the status carries CHECK CONDITION and the
// device sent sense, and then 8 + its additional sense length (byte 7) bytes of the
// driver's zeroed 96-byte sense buffer, cut to the reader's mx_sb_len. Otherwise the
// reader's sense area keeps what it held. The Linux port asks for
// min(SRB_SenseLen, sizeof SenseArea) and copies the sb_len_wr bytes it got.
void DeliverAspiSense(const TCommandResult& r, TSrbExecSCSICmd& srb) {
  constexpr size_t kKernelSenseBuffer = 96;  // SCSI_SENSE_BUFFERSIZE
  constexpr uint8_t kMaskedCheckCondition = 0x01;
  const uint8_t masked = (r.status >> 1) & 0x7F;
  if ((masked & kMaskedCheckCondition) == 0 || r.senseLength == 0) return;
  std::array<uint8_t, kKernelSenseBuffer> buffer{};
  std::memcpy(buffer.data(), r.sense.data(), std::min<size_t>(r.senseLength, r.sense.size()));
  const size_t wanted = 8 + static_cast<size_t>(buffer[7]);
  const size_t n = std::min(
      {wanted, kKernelSenseBuffer, static_cast<size_t>(srb.SRB_SenseLen), sizeof srb.SenseArea});
  std::memcpy(srb.SenseArea, buffer.data(), n);
}

}  // namespace

TVirtualBus::TVirtualBus(TClock& clock) : clock_(clock) {}
TVirtualBus::~TVirtualBus() = default;

TVirtualDrive& TVirtualBus::AddDrive(const TDriveProfile& profile) {
  drives_.push_back(std::make_unique<TVirtualDrive>(profile, clock_));
  return *drives_.back();
}

// ---- pass-through ------------------------------------------------------------------

int TVirtualBus::SlotCount() {
  return std::max(scsi::kDriveSlots, DriveCount());
}

bool TVirtualBus::IsOpticalSlot(int slot) {
  return slot >= 0 && slot < DriveCount();
}

std::string TVirtualBus::SlotName(int slot) {
  return "emulated:sr" + std::to_string(slot);
}

std::string TVirtualBus::DeviceName(uint8_t haId, uint8_t target, uint8_t lun) {
  const int k = DriveAt(haId, target, lun);
  return k >= 0 ? SlotName(k) : std::string();
}

TDeviceHandle TVirtualBus::Open(int slot, int& error) {
  if (auto it = openErrors_.find(slot); it != openErrors_.end()) {
    error = it->second;
    return kInvalidHandle;
  }
  if (!IsOpticalSlot(slot)) {
    error = ENOENT;
    return kInvalidHandle;
  }
  error = 0;
  const TDeviceHandle handle = nextHandle_++;
  open_[handle] = slot;
  return handle;
}

void TVirtualBus::Close(TDeviceHandle handle) {
  if (open_.erase(handle) == 0) ++badCloses_;
}

int TVirtualBus::Execute(TDeviceHandle handle, TPassThroughBlock& block) {
  const auto open = open_.find(handle);
  if (open == open_.end()) return EBADF;
  TScsiPassThroughDirect& sptd = block.Sptd;
  if (sptd.CdbLength == 0 || sptd.CdbLength > sizeof(sptd.Cdb)) return EINVAL;
  if (sptd.DataTransferLength > 0 && sptd.DataBuffer == nullptr) return EFAULT;

  TVirtualDrive& drive = Drive(open->second);
  const TCommandResult r = drive.Execute(sptd.Cdb, sptd.CdbLength, sptd.DataBuffer,
                                         sptd.DataTransferLength, FromDataIn(sptd.DataIn));
  if (r.systemError != 0) return r.systemError;

  const uint32_t timeoutMs =
      (sptd.TimeOutValue != 0 ? sptd.TimeOutValue : kPassThroughTimeoutSec) * 1000u;
  if (r.lostCompletion || r.latencyMs > timeoutMs) {
    // The kernel gives up on the command after the time-out; no status came back.
    clock_.Sleep(timeoutMs);
    sptd.ScsiStatus = 0;
    return ETIMEDOUT;
  }
  if (r.latencyMs > 0) clock_.Sleep(r.latencyMs);

  sptd.ScsiStatus = r.status;
  if (r.senseLength > 0) {
    const size_t n = std::min<size_t>(
        {sptd.SenseInfoLength, sizeof(block.SenseBuf), static_cast<size_t>(r.senseLength)});
    std::memcpy(block.SenseBuf, r.sense.data(), n);
  }
  return 0;
}

// ---- ASPI --------------------------------------------------------------------------

bool TVirtualBus::Load() {
  aspiLoaded_ = aspiAvailable_;
  return aspiLoaded_;
}

void TVirtualBus::Unload() {
  aspiLoaded_ = false;
}

int TVirtualBus::AdapterCount() const {
  return std::max(1, (DriveCount() + kTargetsPerAdapter - 1) / kTargetsPerAdapter);
}

int TVirtualBus::DriveAt(uint8_t haId, uint8_t target, uint8_t lun) const {
  if (lun != 0 || target >= kTargetsPerAdapter) return -1;
  const int k = haId * kTargetsPerAdapter + target;
  return k < DriveCount() ? k : -1;
}

uint32_t TVirtualBus::GetSupportInfo() {
  if (!aspiLoaded_) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
  return (static_cast<uint32_t>(SS_COMP) << 8) | static_cast<uint32_t>(AdapterCount());
}

uint32_t TVirtualBus::SendGetDevType(TSrbGDEVBlock& srb) {
  if (srb.SRB_Cmd != SC_GET_DEV_TYPE) {
    srb.SRB_Status = SS_INVALID_SRB;
  } else if (!aspiLoaded_ || srb.SRB_HaId >= AdapterCount()) {
    srb.SRB_Status = SS_INVALID_HA;
  } else if (DriveAt(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun) < 0) {
    srb.SRB_Status = SS_NO_DEVICE;
  } else {
    srb.SRB_DeviceType = scsi::kDeviceTypeOptical;
    srb.SRB_Status = SS_COMP;
  }
  return srb.SRB_Status;
}

void TVirtualBus::Deliver(const TPending& p) {
  TSrbExecSCSICmd& srb = *p.srb;
  const size_t n = std::min<size_t>(p.data.size(), srb.SRB_BufLen);
  if (n > 0) std::memcpy(srb.SRB_BufPointer, p.data.data(), n);
  DeliverAspiSense(p.result, srb);
  srb.SRB_HaStat = 0;
  srb.SRB_TargStat = p.result.status;
  srb.SRB_Status = p.result.status == 0 ? SS_COMP : SS_ERR;
  if ((srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0) {
    if (auto it = events_.find(p.event); it != events_.end()) it->second = true;
  }
}

uint32_t TVirtualBus::SendExec(TSrbExecSCSICmd& srb) {
  // A block sent again replaces whatever of it was still pending.
  std::erase_if(pending_, [&](const TPending& p) { return p.srb == &srb; });

  if (srb.SRB_Cmd != SC_EXEC_SCSI_CMD || srb.SRB_CDBLen == 0 ||
      srb.SRB_CDBLen > sizeof(srb.CDBByte) ||
      (srb.SRB_BufLen > 0 && srb.SRB_BufPointer == nullptr)) {
    srb.SRB_Status = SS_INVALID_SRB;
    return srb.SRB_Status;
  }
  if (!aspiLoaded_ || srb.SRB_HaId >= AdapterCount()) {
    srb.SRB_Status = SS_INVALID_HA;
    return srb.SRB_Status;
  }
  const int k = DriveAt(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
  if (k < 0) {
    srb.SRB_Status = SS_NO_DEVICE;
    return srb.SRB_Status;
  }

  TPending p;
  p.srb = &srb;
  p.event = (srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0 ? srb.SRB_PostProc : kNoEvent;
  const TDataDirection dir = FromSrbFlags(srb.SRB_Flags);
  // Data out is taken at submission; data in waits in the bus until the completion.
  uint8_t* buffer = srb.SRB_BufPointer;
  if (dir == TDataDirection::In) {
    p.data.assign(srb.SRB_BufLen, 0);
    buffer = p.data.data();
  }
  p.result = Drive(k).Execute(srb.CDBByte, srb.SRB_CDBLen, buffer, srb.SRB_BufLen, dir);
  if (dir == TDataDirection::In)
    p.data.resize(std::min<size_t>(p.result.transferred, p.data.size()));

  if (p.result.systemError != 0) {
    srb.SRB_HaStat = 0;
    srb.SRB_TargStat = 0;
    srb.SRB_Status = SS_ERR;
    return srb.SRB_Status;
  }
  const bool canWait = p.event != kNoEvent && events_.count(p.event) != 0;
  if (p.result.lostCompletion || (p.result.latencyMs > 0 && canWait)) {
    p.lost = p.result.lostCompletion;
    p.dueMs = clock_.NowMs() + p.result.latencyMs;
    srb.SRB_Status = SS_PENDING;
    pending_.push_back(std::move(p));
    return SS_PENDING;
  }
  if (p.result.latencyMs > 0) clock_.Sleep(p.result.latencyMs);
  Deliver(p);
  return srb.SRB_Status;
}

uint32_t TVirtualBus::SendAbort(TSrbAbort& srb) {
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [&](const TPending& p) { return p.srb == srb.SRB_ToAbort; });
  if (srb.SRB_Cmd != SC_ABORT_SRB || it == pending_.end()) {
    srb.SRB_Status = SS_ABORT_FAIL;
    return srb.SRB_Status;
  }
  it->srb->SRB_Status = SS_ABORTED;
  pending_.erase(it);
  srb.SRB_Status = SS_COMP;
  return srb.SRB_Status;
}

TEventHandle TVirtualBus::CreateEvent() {
  const TEventHandle e = nextEvent_++;
  events_[e] = false;
  return e;
}

TWaitResult TVirtualBus::WaitEvent(TEventHandle event, uint32_t timeoutMs) {
  const auto ev = events_.find(event);
  if (ev == events_.end()) return TWaitResult::Failed;
  if (ev->second) return TWaitResult::Signalled;
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [&](const TPending& p) { return p.event == event; });
  const uint64_t now = clock_.NowMs();
  if (it == pending_.end() || it->lost || it->dueMs > now + timeoutMs) {
    clock_.Sleep(timeoutMs);
    return TWaitResult::TimedOut;
  }
  if (it->dueMs > now) clock_.Sleep(static_cast<uint32_t>(it->dueMs - now));
  const TPending done = std::move(*it);
  pending_.erase(it);
  Deliver(done);
  return TWaitResult::Signalled;
}

void TVirtualBus::CloseEvent(TEventHandle event) {
  events_.erase(event);
  // A request whose event is gone can no longer be waited for: it stays pending, never
  // delivered, until it is aborted or its block is sent again.
  for (TPending& p : pending_) {
    if (p.event == event) p.event = kNoEvent;
  }
}

}  // namespace tavo
