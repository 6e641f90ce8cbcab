// TReplayBus: drives that answer from a session recording, behind both platform seams.
// Discovery is answered from the recorded facts (slots, opens, adapter probes); commands
// must come in the recorded order. Each answers as recorded: status, sense, data, the
// transport's own outcome (errors, lost completions) and its duration on the clock. The
// first command that differs from the recording (device, CDB, direction, length or data
// sent) ends the replay: the bus reports it once and from then on behaves as a drive that
// stops answering (every command times out).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "drive/clock.h"
#include "drive/ports.h"
#include "drive/recording_format.h"
#include "emulator/recording_reader.h"

namespace tavo {

class TReplayBus final : public TPassThroughPort, public TAspiPort {
 public:
  // report receives the divergence message once.
  TReplayBus(TRecording recording, TClock& clock,
             std::function<void(const std::string&)> report = {});

  // True once a command differed from the recording (or came after its end).
  bool Diverged() const { return !divergence_.empty(); }
  const std::string& Divergence() const { return divergence_; }
  // Commands answered from the recording so far.
  size_t Answered() const { return next_; }
  const TRecording& Recording() const { return recording_; }

  // TPassThroughPort
  int SlotCount() override;
  bool IsOpticalSlot(int slot) override;
  std::string SlotName(int slot) override;
  TDeviceHandle Open(int slot, int& error) override;
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override;
  void Close(TDeviceHandle) override {}

  // TAspiPort
  bool Load() override;
  void Unload() override {}
  uint32_t GetSupportInfo() override;
  uint32_t SendGetDevType(TSrbGDEVBlock& srb) override;
  uint32_t SendExec(TSrbExecSCSICmd& srb) override;
  uint32_t SendAbort(TSrbAbort& srb) override;
  TEventHandle CreateEvent() override { return nextEvent_++; }
  TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) override;
  void CloseEvent(TEventHandle) override {}
  int TakeAccessError() override;
  // The recorded name of the probed device (empty for recordings without one).
  std::string DeviceName(uint8_t haId, uint8_t target, uint8_t lun) override;

 private:
  // The next recorded command when it matches the one sent; otherwise the replay ends.
  const TRecordedCommand* Match(const std::string& device, const uint8_t* cdb, size_t cdbLength,
                                uint8_t direction, uint32_t length, const uint8_t* data);
  void Deliver(const TRecordedCommand& c, TSrbExecSCSICmd& srb);
  bool FillDataIn(const TRecordedCommand& c, uint8_t* data, uint32_t length);

  TRecording recording_;
  TClock& clock_;
  std::function<void(const std::string&)> report_;
  size_t next_ = 0;
  std::string divergence_;
  rec::TCarriedData carried_;
  std::map<TDeviceHandle, std::string> names_;
  TEventHandle nextEvent_ = 1;
  // The sg-driver request that has not completed yet, with its recorded outcome (none
  // when the replay has ended: it never completes).
  TSrbExecSCSICmd* pendingSrb_ = nullptr;
  const TRecordedCommand* pending_ = nullptr;
  int accessError_ = 0;
};

}  // namespace tavo
