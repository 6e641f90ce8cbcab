// The real platform layer: the two transports of TAtapi over the Linux kernel.
//  - TLinuxPassThroughPort: SG_IO on /dev/sr0 .. /dev/sr24, the caller's buffer handed over
//    directly, 20 s time-out, 24-byte sense into the block.
//  - TLinuxAspiPort: an ASPI-style layer over the sg driver: host adapters are the SCSI
//    hosts in numeric order, devices are addressed H:0:T:L through sysfs, a request is a
//    write() of an sg_io_hdr to /dev/sgN and its completion a read() once poll() says the
//    descriptor is readable.
// The /dev and /sys roots are parameters so that tests can point them at a fake tree.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "drive/ports.h"

namespace tavo {

// sg_io_hdr for one pass-through block: CDB, direction, direct I/O on the block's buffer,
// time-out in milliseconds and the block's sense buffer.
sg_io_hdr BuildSgIoHeader(TPassThroughBlock& block);

// dxfer_direction for a pass-through DataIn value and a transfer length.
int SgDirectionForDataIn(uint8_t dataIn, uint32_t length);

// dxfer_direction for ASPI SRB_Flags (direction bits 08h in, 10h out) and a length.
int SgDirectionForSrbFlags(uint8_t flags, uint32_t length);

// Result of Execute from the ioctl outcome: the ioctl errno when it failed; ETIMEDOUT or EIO
// when the command ran but the host or driver reported a fault (other than sense data
// being present); else 0. Copies the SCSI status byte into the block when the ioctl ran.
int MapSgIoOutcome(int ioctlResult, int ioctlErrno, const sg_io_hdr& header,
                   TPassThroughBlock& block);

// True when the host and driver status of a completed request are clean (sense data being
// present does not count as a fault).
bool SgTransportClean(const sg_io_hdr& header);

// Reads a small integer from a sysfs attribute file ("5\n"); nullopt when missing or not a
// number.
std::optional<int> ReadSysfsInt(const std::string& path);

// Parses "H:C:T:L"; false when malformed.
bool ParseScsiAddress(const std::string& text, int& host, int& channel, int& target, int& lun);

class TLinuxPassThroughPort final : public TPassThroughPort {
 public:
  explicit TLinuxPassThroughPort(std::string devRoot = "/dev", std::string sysRoot = "/sys");
  int SlotCount() override;
  bool IsOpticalSlot(int slot) override;
  std::string SlotName(int slot) override;
  TDeviceHandle Open(int slot, int& error) override;
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override;
  void Close(TDeviceHandle handle) override;

 private:
  std::string devRoot_;
  std::string sysRoot_;
};

// One sg device as sysfs describes it.
struct TSgDevice {
  int index = 0;  // N of /dev/sgN
  int host = 0;
  int channel = 0;
  int target = 0;
  int lun = 0;
  int type = -1;  // SCSI peripheral device type; -1 when unreadable
};

class TLinuxAspiPort final : public TAspiPort {
 public:
  explicit TLinuxAspiPort(std::string devRoot = "/dev", std::string sysRoot = "/sys");
  ~TLinuxAspiPort() override;
  TLinuxAspiPort(const TLinuxAspiPort&) = delete;
  TLinuxAspiPort& operator=(const TLinuxAspiPort&) = delete;

  bool Load() override;
  void Unload() override;
  uint32_t GetSupportInfo() override;
  uint32_t SendGetDevType(TSrbGDEVBlock& srb) override;
  uint32_t SendExec(TSrbExecSCSICmd& srb) override;
  uint32_t SendAbort(TSrbAbort& srb) override;
  TEventHandle CreateEvent() override;
  TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) override;
  void CloseEvent(TEventHandle event) override;
  int TakeAccessError() override;
  std::string DeviceName(uint8_t haId, uint8_t target, uint8_t lun) override;

  // What Load found (for tests and diagnostics).
  const std::vector<int>& Hosts() const { return hosts_; }
  const std::vector<TSgDevice>& Devices() const { return devices_; }

 private:
  struct TPending {
    int fd = -1;
    TSrbExecSCSICmd* srb = nullptr;
    TEventHandle event = kNoEvent;
    uint8_t sense[32] = {};
  };

  const TSgDevice* FindDevice(uint8_t haId, uint8_t target, uint8_t lun) const;
  int DeviceFd(int index, int& error);
  void DropPending();
  void CloseAll();

  std::string devRoot_;
  std::string sysRoot_;
  bool loaded_ = false;
  std::vector<int> hosts_;
  std::vector<TSgDevice> devices_;
  std::map<int, int> fds_;  // sg index -> open descriptor
  std::optional<TPending> pending_;
  TEventHandle nextEvent_ = 1;
  int accessError_ = 0;
};

}  // namespace tavo
