// Recording, scriptable stand-ins for the two platform ports and the sink, so that TAtapi's
// own logic runs in tests with only the kernel replaced.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "drive/clock.h"
#include "drive/ports.h"
#include "drive/scsi.h"

namespace tavo::test {

inline std::vector<uint8_t> InquiryData(const std::string& identity, const std::string& rev) {
  std::vector<uint8_t> data(scsi::kInquiryLength, 0);
  std::memcpy(data.data() + scsi::kInquiryVendorByte, identity.data(),
              std::min(identity.size(), scsi::kInquiryIdentityLength));
  std::memcpy(data.data() + scsi::kInquiryRevisionByte, rev.data(),
              std::min(rev.size(), scsi::kInquiryRevisionLength));
  return data;
}

class TRecordingSink final : public TAtapiSink {
 public:
  void ShowPlainMessage(const std::string& text) override { messages.push_back(text); }
  void PumpMessage() override {
    ++pumps;
    if (onPump) onPump();
  }
  std::vector<std::string> messages;
  int pumps = 0;
  std::function<void()> onPump;
};

// One scripted outcome of a pass-through command.
struct TPtReply {
  int error = 0;
  uint8_t scsiStatus = 0;
  std::vector<uint8_t> sense;  // written into SenseBuf
};

class TFakePassThroughPort final : public TPassThroughPort {
 public:
  struct TSlot {
    bool optical = true;
    int openError = 0;  // non-zero: Open fails with it
    std::vector<uint8_t> inquiry = InquiryData("VENDOR  PRODUCT         ", "1.00");
  };
  static TDeviceHandle HandleOf(int slot) { return 100 + slot; }

  int SlotCount() override { return slotCount; }
  bool IsOpticalSlot(int slot) override {
    examined.push_back(slot);
    return slots.count(slot) != 0 && slots[slot].optical;
  }
  std::string SlotName(int slot) override { return "/dev/sr" + std::to_string(slot); }
  TDeviceHandle Open(int slot, int& error) override {
    error = slots[slot].openError;
    return error != 0 ? kInvalidHandle : HandleOf(slot);
  }
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override {
    handles.push_back(handle);
    blocks.push_back(block);
    TPtReply reply;
    if (!replies.empty()) {
      reply = replies.front();
      replies.pop_front();
    } else if (block.Sptd.Cdb[0] == 0x12 && block.Sptd.DataBuffer != nullptr) {
      const auto& data = slots[handle - 100].inquiry;
      std::memcpy(block.Sptd.DataBuffer, data.data(),
                  std::min<size_t>(data.size(), block.Sptd.DataTransferLength));
    }
    block.Sptd.ScsiStatus = reply.scsiStatus;
    std::copy(reply.sense.begin(), reply.sense.end(), block.SenseBuf);
    return reply.error;
  }
  void Close(TDeviceHandle handle) override { closed.push_back(handle); }

  int slotCount = scsi::kDriveSlots;
  std::map<int, TSlot> slots;
  std::deque<TPtReply> replies;
  std::vector<int> examined;
  std::vector<TDeviceHandle> handles;
  std::vector<TPassThroughBlock> blocks;
  std::vector<TDeviceHandle> closed;
};

// One scripted outcome of an ASPI execute request.
struct TAspiReply {
  enum TMode { Immediate, Signalled, NeverCompletes } mode = Immediate;
  uint8_t status = SS_COMP;
  uint8_t targStat = 0;
  std::vector<uint8_t> sense;  // written into SenseArea only when not empty
};

class TFakeAspiPort final : public TAspiPort {
 public:
  explicit TFakeAspiPort(TVirtualClock* clock = nullptr) : clock_(clock) {}

  bool Load() override {
    ++loads;
    return loadOk;
  }
  void Unload() override { ++unloads; }
  uint32_t GetSupportInfo() override { return 0x0100u | adapters; }
  uint32_t SendGetDevType(TSrbGDEVBlock& srb) override {
    probes.push_back(srb);
    const auto key = std::make_tuple(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    if (srb.SRB_HaId >= adapters) {
      srb.SRB_Status = SS_INVALID_HA;
    } else if (devices.count(key) == 0) {
      srb.SRB_Status = SS_NO_DEVICE;
    } else {
      srb.SRB_DeviceType = devices[key];
      // Optionally stays pending for a few message pumps, as a slow manager would.
      srb.SRB_Status = pendingPumps > 0 ? SS_PENDING : SS_COMP;
      pendingProbe_ = &srb;
    }
    return srb.SRB_Status;
  }
  // Called by the test sink's pump through CompletePendingProbe.
  void CompletePendingProbe() {
    if (pendingProbe_ != nullptr && pendingProbe_->SRB_Status == SS_PENDING &&
        --pendingPumps == 0) {
      pendingProbe_->SRB_Status = SS_COMP;
    }
  }
  uint32_t SendExec(TSrbExecSCSICmd& srb) override {
    execs.push_back(srb);
    current_ = replies.empty() ? TAspiReply{} : replies.front();
    if (!replies.empty()) replies.pop_front();
    currentSrb_ = &srb;
    if (current_.mode == TAspiReply::Immediate) {
      Complete(srb);
    } else {
      srb.SRB_Status = SS_PENDING;
    }
    return srb.SRB_Status;
  }
  uint32_t SendAbort(TSrbAbort& srb) override {
    aborts.push_back(srb);
    currentSrb_ = nullptr;
    srb.SRB_Status = SS_COMP;
    return SS_COMP;
  }
  TEventHandle CreateEvent() override {
    if (failEvents) return kNoEvent;
    ++eventsCreated;
    return 7000 + eventsCreated;
  }
  TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) override {
    waits.push_back({event, timeoutMs});
    if (current_.mode == TAspiReply::Signalled && currentSrb_ != nullptr) {
      Complete(*currentSrb_);
      return TWaitResult::Signalled;
    }
    if (clock_ != nullptr) clock_->Advance(timeoutMs);
    return TWaitResult::TimedOut;
  }
  void CloseEvent(TEventHandle event) override { eventsClosed.push_back(event); }
  int TakeAccessError() override { return std::exchange(accessError, 0); }

  bool loadOk = true;
  bool failEvents = false;
  int accessError = 0;
  uint8_t adapters = 1;
  int pendingPumps = 0;
  std::vector<uint8_t> inquiry = InquiryData("VENDOR  PRODUCT         ", "1.00");
  std::map<std::tuple<uint8_t, uint8_t, uint8_t>, uint8_t> devices;  // address -> type
  std::deque<TAspiReply> replies;
  std::vector<TSrbGDEVBlock> probes;
  std::vector<TSrbExecSCSICmd> execs;
  std::vector<TSrbAbort> aborts;
  std::vector<std::pair<TEventHandle, uint32_t>> waits;
  std::vector<TEventHandle> eventsClosed;
  int eventsCreated = 0;
  int loads = 0;
  int unloads = 0;

 private:
  void Complete(TSrbExecSCSICmd& srb) {
    if (current_.status == SS_COMP && srb.CDBByte[0] == 0x12 && srb.SRB_BufPointer != nullptr) {
      std::memcpy(srb.SRB_BufPointer, inquiry.data(),
                  std::min<size_t>(inquiry.size(), srb.SRB_BufLen));
    }
    srb.SRB_Status = current_.status;
    srb.SRB_TargStat = current_.targStat;
    std::copy(current_.sense.begin(), current_.sense.end(), srb.SenseArea);
  }
  TVirtualClock* clock_;
  TAspiReply current_;
  TSrbExecSCSICmd* currentSrb_ = nullptr;
  TSrbGDEVBlock* pendingProbe_ = nullptr;
};

}  // namespace tavo::test
