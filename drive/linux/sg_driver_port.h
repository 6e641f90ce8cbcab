// TLinuxAspiPort: an ASPI-style layer over the sg driver. Host adapters are the SCSI hosts
// in numeric order, devices are addressed H:0:T:L through sysfs, a request is a write() of
// an sg_io_hdr to /dev/sgN and its completion a read() once poll() says the descriptor is
// readable. The /dev and /sys roots are parameters so that tests can point them at a fake
// tree.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "drive/linux/sysfs.h"
#include "drive/ports.h"

namespace tavo {

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
  // The drive's block device ("/dev/sr0", from sysfs) when it has one, so that both
  // transports name a drive alike; else its sg device ("/dev/sg0").
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
