// Shared pieces of the fuzz targets: a reader over the fuzz input, quiet front-end ports, a
// port that passes every command to the virtual drives and then rewrites the reply as the
// input says, and the small images the targets flash and the seed generator packs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "drive/ports.h"
#include "emulator/virtual_bus.h"
#include "flash/user_port.h"

namespace tavo::fuzz {

// Bytes of the fuzz input, taken in order; 0 once they run out.
class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  bool Empty() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Says yes to the restart question, so the restart path runs too.
class TQuietPort final : public TLogOnlyPort {
 public:
  TQuietPort() : TLogOnlyPort(true) {}
};

class TQuietSink final : public TAtapiSink {
 public:
  void ShowPlainMessage(const std::string&) override {}
  void PumpMessage() override {}
};

// Every command goes to the virtual bus first; then one input byte chooses what happens to
// the reply: kept, a new status with new sense bytes, overwritten data-in bytes, a
// transport fault without status, a refusal by the system, or a completion that never
// comes. Both transports.
class TMutatingPort final : public TPassThroughPort, public TAspiPort {
 public:
  TMutatingPort(TVirtualBus& bus, TClock& clock, TInput& input)
      : bus_(bus), clock_(clock), in_(input) {}

  int SlotCount() override { return bus_.SlotCount(); }
  bool IsOpticalSlot(int slot) override { return bus_.IsOpticalSlot(slot); }
  std::string SlotName(int slot) override { return bus_.SlotName(slot); }
  TDeviceHandle Open(int slot, int& error) override { return bus_.Open(slot, error); }
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override;
  void Close(TDeviceHandle handle) override { bus_.Close(handle); }

  bool Load() override { return bus_.Load(); }
  void Unload() override { bus_.Unload(); }
  uint32_t GetSupportInfo() override { return bus_.GetSupportInfo(); }
  uint32_t SendGetDevType(TSrbGDEVBlock& srb) override;
  uint32_t SendExec(TSrbExecSCSICmd& srb) override;
  uint32_t SendAbort(TSrbAbort& srb) override;
  TEventHandle CreateEvent() override { return bus_.CreateEvent(); }
  TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) override;
  void CloseEvent(TEventHandle event) override { bus_.CloseEvent(event); }

 private:
  enum class TAction { Keep, Status, Data, TransportFault, Refuse, Lose };
  TAction NextAction();
  void OverwriteData(uint8_t* data, uint32_t length);
  void FillSense(uint8_t* sense, size_t size);

  TVirtualBus& bus_;
  TClock& clock_;
  TInput& in_;
  std::map<TEventHandle, TSrbExecSCSICmd*> lost_;
};

// A small plain image for the drive profiles' identity "TAVO    QRD-1040C": three short
// banks, so a whole flash run stays quick. identityCheck is the header's flag (10h or 20h).
std::vector<uint8_t> SmallImage(uint8_t identityCheck, uint8_t scrambleFlag,
                                const std::string& identity, uint8_t family0, uint8_t family1);

}  // namespace tavo::fuzz
