// TVirtualBus: a set of virtual drives behind both platform seams. On the pass-through
// side slot k (k < drive count) holds drive k; each open gives a new handle, from 3 up as
// descriptors are, so 0 (the "no drive" handle) never reaches a drive. On the ASPI side
// drive k sits at host adapter k / 8, target k % 8, LUN 0. Both sides run each command through
// TVirtualDrive::Execute and apply the transport faults it reports on the shared clock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "drive/clock.h"
#include "drive/ports.h"
#include "emulator/virtual_drive.h"

namespace tavo {

// ASPI status of a malformed request block.
inline constexpr uint8_t SS_INVALID_SRB = 0xE0;

class TVirtualBus final : public TPassThroughPort, public TAspiPort {
 public:
  explicit TVirtualBus(TClock& clock);
  ~TVirtualBus() override;
  TVirtualBus(const TVirtualBus&) = delete;
  TVirtualBus& operator=(const TVirtualBus&) = delete;

  TVirtualDrive& AddDrive(const TDriveProfile& profile);
  int DriveCount() const { return static_cast<int>(drives_.size()); }
  TVirtualDrive& Drive(int k) { return *drives_.at(static_cast<size_t>(k)); }
  TClock& Clock() { return clock_; }

  // Test controls of the platform itself.
  void SetAspiAvailable(bool available) { aspiAvailable_ = available; }
  void InjectOpenError(int slot, int error) { openErrors_[slot] = error; }
  int PendingRequests() const { return static_cast<int>(pending_.size()); }
  // Handles opened and not closed yet; closes of a handle that was not open.
  int OpenHandles() const { return static_cast<int>(open_.size()); }
  int BadCloses() const { return badCloses_; }

  // TPassThroughPort
  int SlotCount() override;
  bool IsOpticalSlot(int slot) override;
  std::string SlotName(int slot) override;
  TDeviceHandle Open(int slot, int& error) override;
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override;
  void Close(TDeviceHandle handle) override;

  // TAspiPort
  bool Load() override;
  void Unload() override;
  uint32_t GetSupportInfo() override;
  uint32_t SendGetDevType(TSrbGDEVBlock& srb) override;
  uint32_t SendExec(TSrbExecSCSICmd& srb) override;
  uint32_t SendAbort(TSrbAbort& srb) override;
  TEventHandle CreateEvent() override;
  TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) override;
  void CloseEvent(TEventHandle event) override;
  // "emulated:srK" for drive K: the same name on both transports.
  std::string DeviceName(uint8_t haId, uint8_t target, uint8_t lun) override;

 private:
  // A request that has not completed yet: its result waits in the bus (as data waits in
  // the kernel until read) and reaches the SRB only when its event is waited for.
  struct TPending {
    TSrbExecSCSICmd* srb = nullptr;
    TEventHandle event = kNoEvent;
    bool lost = false;
    uint64_t dueMs = 0;
    TCommandResult result;
    std::vector<uint8_t> data;  // data-in bytes to deliver
  };

  int AdapterCount() const;
  int DriveAt(uint8_t haId, uint8_t target, uint8_t lun) const;
  void Deliver(const TPending& p);

  TClock& clock_;
  std::vector<std::unique_ptr<TVirtualDrive>> drives_;
  std::map<TDeviceHandle, int> open_;  // open handle -> slot
  TDeviceHandle nextHandle_ = 3;
  int badCloses_ = 0;
  std::map<int, int> openErrors_;
  bool aspiAvailable_ = true;
  bool aspiLoaded_ = false;
  TEventHandle nextEvent_ = 1;
  std::map<TEventHandle, bool> events_;  // event -> signalled
  std::vector<TPending> pending_;
};

}  // namespace tavo
