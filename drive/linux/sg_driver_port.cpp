#include "drive/linux/sg_driver_port.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "drive/linux/sg_common.h"
#include "drive/linux/sysfs.h"

namespace tavo {

namespace {

constexpr unsigned kAspiCommandTimeoutMs = 30000;

}  // namespace

// ASPI-style port over the sg driver.

TLinuxAspiPort::TLinuxAspiPort(std::string devRoot, std::string sysRoot)
    : devRoot_(std::move(devRoot)), sysRoot_(std::move(sysRoot)) {}

TLinuxAspiPort::~TLinuxAspiPort() {
  CloseAll();
}

bool TLinuxAspiPort::Load() {
  if (!SgDriverPresent(devRoot_, sysRoot_)) return false;
  hosts_ = ScsiHostNumbers(sysRoot_);
  devices_ = SgDevices(sysRoot_);
  loaded_ = true;
  return true;
}

void TLinuxAspiPort::Unload() {
  CloseAll();
  loaded_ = false;
}

uint32_t TLinuxAspiPort::GetSupportInfo() {
  const uint32_t count = static_cast<uint32_t>(std::min<size_t>(hosts_.size(), 0xFF));
  return (static_cast<uint32_t>(SS_COMP) << 8) | count;
}

std::string TLinuxAspiPort::DeviceName(uint8_t haId, uint8_t target, uint8_t lun) {
  const TSgDevice* device = FindDevice(haId, target, lun);
  if (device == nullptr) return {};
  const std::string sg = "sg" + std::to_string(device->index);
  for (const std::string& name :
       EntryNames(sysRoot_ + "/class/scsi_generic/" + sg + "/device/block")) {
    if (EntryNumber(name, "sr") >= 0) return devRoot_ + "/" + name;
  }
  return devRoot_ + "/" + sg;
}

const TSgDevice* TLinuxAspiPort::FindDevice(uint8_t haId, uint8_t target, uint8_t lun) const {
  if (haId >= hosts_.size()) return nullptr;
  const int host = hosts_[haId];
  for (const TSgDevice& device : devices_) {
    if (device.host == host && device.channel == 0 && device.target == target &&
        device.lun == lun) {
      return &device;
    }
  }
  return nullptr;
}

uint32_t TLinuxAspiPort::SendGetDevType(TSrbGDEVBlock& srb) {
  if (!loaded_ || srb.SRB_HaId >= hosts_.size()) {
    srb.SRB_Status = SS_INVALID_HA;
    return srb.SRB_Status;
  }
  const TSgDevice* device = FindDevice(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
  if (device == nullptr || device->type < 0) {
    srb.SRB_Status = SS_NO_DEVICE;
    return srb.SRB_Status;
  }
  srb.SRB_DeviceType = static_cast<uint8_t>(device->type);
  srb.SRB_Status = SS_COMP;
  return srb.SRB_Status;
}

int TLinuxAspiPort::DeviceFd(int index, int& error) {
  const auto found = fds_.find(index);
  if (found != fds_.end()) return found->second;
  const int fd = OpenDevice(devRoot_ + "/sg" + std::to_string(index), error);
  if (fd >= 0) fds_[index] = fd;
  return fd;
}

uint32_t TLinuxAspiPort::SendExec(TSrbExecSCSICmd& srb) {
  // One request at a time: a request still pending here was given up by its caller.
  DropPending();
  if (!loaded_ || srb.SRB_HaId >= hosts_.size()) {
    srb.SRB_Status = SS_INVALID_HA;
    return srb.SRB_Status;
  }
  const TSgDevice* device = FindDevice(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
  if (device == nullptr) {
    srb.SRB_Status = SS_NO_DEVICE;
    return srb.SRB_Status;
  }
  if ((srb.SRB_BufLen > 0 && srb.SRB_BufPointer == nullptr) || srb.SRB_CDBLen == 0 ||
      srb.SRB_CDBLen > sizeof srb.CDBByte) {
    srb.SRB_Status = SS_ERR;
    return srb.SRB_Status;
  }
  int error = 0;
  const int fd = DeviceFd(device->index, error);
  if (fd < 0) {
    if (error == EACCES || error == EPERM) accessError_ = error;
    srb.SRB_Status = SS_ERR;
    return srb.SRB_Status;
  }

  TPending pending;
  pending.fd = fd;
  pending.srb = &srb;
  pending.event = srb.SRB_PostProc;

  // Indirect I/O: data to the drive is copied at write(); data from the drive reaches the
  // caller's buffer only at read(), so dropping the request can never write into it later.
  sg_io_hdr header{};
  header.interface_id = 'S';
  header.dxfer_direction = SgDirectionForSrbFlags(srb.SRB_Flags, srb.SRB_BufLen);
  header.cmd_len = srb.SRB_CDBLen;
  header.mx_sb_len = std::min<uint8_t>(srb.SRB_SenseLen, sizeof srb.SenseArea);
  if (header.dxfer_direction != SG_DXFER_NONE) {
    header.dxfer_len = srb.SRB_BufLen;
    header.dxferp = srb.SRB_BufPointer;
  }
  header.cmdp = srb.CDBByte;
  header.sbp = nullptr;  // set below, pointing into the pending record
  header.timeout = kAspiCommandTimeoutMs;

  pending_ = pending;
  header.sbp = pending_->sense;
  const ssize_t written = ::write(fd, &header, sizeof header);
  if (written != static_cast<ssize_t>(sizeof header)) {
    const int saved = written < 0 ? errno : EIO;
    if (saved == EACCES || saved == EPERM) accessError_ = saved;
    pending_.reset();
    // A descriptor that failed this way is not trusted again.
    ::close(fd);
    fds_.erase(device->index);
    srb.SRB_Status = SS_ERR;
    return srb.SRB_Status;
  }
  srb.SRB_Status = SS_PENDING;
  return srb.SRB_Status;
}

TWaitResult TLinuxAspiPort::WaitEvent(TEventHandle event, uint32_t timeoutMs) {
  if (!pending_ || pending_->event != event || event == kNoEvent) return TWaitResult::Failed;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd pfd{pending_->fd, POLLIN, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<int64_t>(left, 0)));
    if (ready == 0) return TWaitResult::TimedOut;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return TWaitResult::Failed;
    }
    break;
  }
  if ((pfd.revents & POLLIN) == 0) return TWaitResult::Failed;

  sg_io_hdr header{};
  const ssize_t got = ::read(pending_->fd, &header, sizeof header);
  if (got != static_cast<ssize_t>(sizeof header)) return TWaitResult::Failed;

  TSrbExecSCSICmd& srb = *pending_->srb;
  srb.SRB_HaStat = static_cast<uint8_t>(std::min<unsigned>(header.host_status, 0xFF));
  srb.SRB_TargStat = header.status;
  if (header.sb_len_wr > 0) {
    const size_t n = std::min<size_t>(
        {header.sb_len_wr, srb.SRB_SenseLen, sizeof srb.SenseArea, sizeof pending_->sense});
    std::memcpy(srb.SenseArea, pending_->sense, n);
  }
  srb.SRB_Status = (header.status == 0 && SgTransportClean(header)) ? SS_COMP : SS_ERR;
  pending_.reset();
  return TWaitResult::Signalled;
}

void TLinuxAspiPort::DropPending() {
  if (!pending_) return;
  // Closing the descriptor makes the sg driver discard the request and its data.
  const int fd = pending_->fd;
  for (auto it = fds_.begin(); it != fds_.end(); ++it) {
    if (it->second == fd) {
      fds_.erase(it);
      break;
    }
  }
  ::close(fd);
  pending_.reset();
}

uint32_t TLinuxAspiPort::SendAbort(TSrbAbort& srb) {
  if (pending_ && pending_->srb == srb.SRB_ToAbort) {
    DropPending();
    srb.SRB_Status = SS_COMP;
  } else {
    srb.SRB_Status = SS_ERR;
  }
  return srb.SRB_Status;
}

TEventHandle TLinuxAspiPort::CreateEvent() {
  const TEventHandle event = nextEvent_++;
  if (nextEvent_ == kNoEvent) nextEvent_ = 1;
  return event;
}

void TLinuxAspiPort::CloseEvent(TEventHandle) {}

int TLinuxAspiPort::TakeAccessError() {
  const int error = accessError_;
  accessError_ = 0;
  return error;
}

void TLinuxAspiPort::CloseAll() {
  DropPending();
  for (const auto& [index, fd] : fds_) ::close(fd);
  fds_.clear();
}

}  // namespace tavo
