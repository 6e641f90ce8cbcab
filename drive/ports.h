// The two narrow platform seams under TAtapi: one per transport. The Linux layer
// (drive/linux) implements them over the kernel; the virtual drive implements them in
// software. TAtapi fills the blocks below exactly as it would for the kernel, so its
// block filling, status mapping and sense keeping run unchanged in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavo {

using TDeviceHandle = int32_t;
inline constexpr TDeviceHandle kInvalidHandle = -1;

// Direction codes of ExecCommand.
inline constexpr uint8_t kDirNone = 0;
inline constexpr uint8_t kDirIn = 8;    // data from the drive
inline constexpr uint8_t kDirOut = 16;  // data to the drive

// DataIn values of the pass-through record.
inline constexpr uint8_t kDataOut = 0;
inline constexpr uint8_t kDataIn = 1;
inline constexpr uint8_t kDataUnspecified = 2;

// The direction code of a request, from an SRB's flags or a pass-through record's DataIn;
// kDirNone for anything else.
inline uint8_t SrbDirection(uint8_t flags) {
  const uint8_t dir = flags & (kDirIn | kDirOut);
  return dir == kDirIn || dir == kDirOut ? dir : kDirNone;
}
inline uint8_t PassThroughDirection(uint8_t dataIn) {
  if (dataIn == kDataIn) return kDirIn;
  if (dataIn == kDataOut) return kDirOut;
  return kDirNone;
}

// The pass-through record: what the program hands the kernel for one command.
struct TScsiPassThroughDirect {
  uint16_t Length = 0;  // 44, the size of the record on the platform it was defined for
  uint8_t ScsiStatus = 0;
  uint8_t PathId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;
  uint8_t CdbLength = 0;
  uint8_t SenseInfoLength = 0;
  uint8_t DataIn = 0;
  uint32_t DataTransferLength = 0;
  uint32_t TimeOutValue = 0;  // seconds
  uint8_t* DataBuffer = nullptr;
  uint32_t SenseInfoOffset = 0;
  uint8_t Cdb[16] = {};
};

// The pass-through block: record, filler, sense buffer. Cleared before every command.
struct TPassThroughBlock {
  TScsiPassThroughDirect Sptd;
  uint32_t Filler = 0;
  uint8_t SenseBuf[32] = {};
};

inline constexpr uint16_t kSptdLength = 44;
inline constexpr uint32_t kSenseInfoOffset = 48;  // offset of SenseBuf in the block
inline constexpr uint8_t kPassThroughSenseLength = 24;
inline constexpr uint32_t kPassThroughTimeoutSec = 20;

// Pass-through seam: candidate slots (/dev/sr0 .. /dev/sr24 on Linux), open, one command,
// close.
class TPassThroughPort {
 public:
  virtual ~TPassThroughPort() = default;
  // Number of candidate slots, examined in order 0 .. SlotCount()-1.
  virtual int SlotCount() = 0;
  // True when the slot's device exists and is an optical drive.
  virtual bool IsOpticalSlot(int slot) = 0;
  // Human-readable device name of the slot, for messages ("/dev/sr0").
  virtual std::string SlotName(int slot) = 0;
  // Opens the slot's device for reading and writing without blocking on an empty tray.
  // On failure returns kInvalidHandle and stores the errno value in error.
  virtual TDeviceHandle Open(int slot, int& error) = 0;
  // Runs the command the block describes. Returns 0 when the command ran (ScsiStatus and
  // SenseBuf filled in), EIO or ETIMEDOUT when it ran but the transport reported a fault
  // (the SCSI status in the block still decides), any other errno value when the system
  // refused the request.
  virtual int Execute(TDeviceHandle handle, TPassThroughBlock& block) = 0;
  virtual void Close(TDeviceHandle handle) = 0;
};

// ASPI-style request blocks.
inline constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr uint8_t SC_ABORT_SRB = 0x03;
inline constexpr uint8_t SS_PENDING = 0x00;
inline constexpr uint8_t SS_COMP = 0x01;
inline constexpr uint8_t SS_ABORTED = 0x02;
inline constexpr uint8_t SS_ERR = 0x04;
inline constexpr uint8_t SS_NO_DEVICE = 0x82;
inline constexpr uint8_t SS_INVALID_HA = 0x81;
inline constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;
inline constexpr uint8_t kAspiSenseLength = 14;

using TEventHandle = uintptr_t;  // 0: no event
inline constexpr TEventHandle kNoEvent = 0;

struct TSrbGDEVBlock {
  uint8_t SRB_Cmd = 0;
  uint8_t SRB_Status = 0;
  uint8_t SRB_HaId = 0;
  uint8_t SRB_Flags = 0;
  uint32_t SRB_Hdr_Rsvd = 0;
  uint8_t SRB_Target = 0;
  uint8_t SRB_Lun = 0;
  uint8_t SRB_DeviceType = 0;
  uint8_t SRB_Rsvd1 = 0;
};

struct TSrbExecSCSICmd {
  uint8_t SRB_Cmd = 0;
  uint8_t SRB_Status = 0;
  uint8_t SRB_HaId = 0;
  uint8_t SRB_Flags = 0;
  uint32_t SRB_Hdr_Rsvd = 0;
  uint8_t SRB_Target = 0;
  uint8_t SRB_Lun = 0;
  uint16_t SRB_Rsvd1 = 0;
  uint32_t SRB_BufLen = 0;
  uint8_t* SRB_BufPointer = nullptr;
  uint8_t SRB_SenseLen = 0;
  uint8_t SRB_CDBLen = 0;
  uint8_t SRB_HaStat = 0;
  uint8_t SRB_TargStat = 0;
  TEventHandle SRB_PostProc = kNoEvent;
  uint8_t SRB_Rsvd2[20] = {};
  uint8_t CDBByte[16] = {};
  uint8_t SenseArea[16 + 2] = {};
};

struct TSrbAbort {
  uint8_t SRB_Cmd = 0;
  uint8_t SRB_Status = 0;
  uint8_t SRB_HaId = 0;
  uint8_t SRB_Flags = 0;
  uint32_t SRB_Hdr_Rsvd = 0;
  TSrbExecSCSICmd* SRB_ToAbort = nullptr;
};

enum class TWaitResult { Signalled, TimedOut, Failed };

// ASPI-style seam: the "manager library" of host adapters, device probes, asynchronous
// execution signalled through an event, and abort.
class TAspiPort {
 public:
  virtual ~TAspiPort() = default;
  // Makes the manager available. False when it is missing (no sg driver on Linux).
  virtual bool Load() = 0;
  virtual void Unload() = 0;
  // Low byte: number of host adapters. Bits 8-15: a status, not examined by callers.
  virtual uint32_t GetSupportInfo() = 0;
  // Each Send sets SRB_Status: SS_PENDING while running, else the outcome.
  virtual uint32_t SendGetDevType(TSrbGDEVBlock& srb) = 0;
  // Starts the request. The completion sets SRB_Status, SRB_HaStat, SRB_TargStat and,
  // only when sense data came back, SenseArea; then it signals SRB_PostProc. A request
  // may complete before this returns.
  virtual uint32_t SendExec(TSrbExecSCSICmd& srb) = 0;
  // Drops the pending request: its completion is never delivered, into the SRB or its
  // data buffer, after this returns.
  virtual uint32_t SendAbort(TSrbAbort& srb) = 0;
  virtual TEventHandle CreateEvent() = 0;  // kNoEvent on failure
  virtual TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) = 0;
  virtual void CloseEvent(TEventHandle event) = 0;
  // The errno value of the last refused device open (EACCES, EPERM, ...) since the
  // previous call, then 0 until the next refusal. Lets the caller tell the user how to get
  // access. Ports without devices to open keep the default.
  virtual int TakeAccessError() { return 0; }
  // The name of the device at an address ("/dev/sg0"), for messages and the per-drive
  // lock; empty when the port has no name for it.
  virtual std::string DeviceName(uint8_t /*haId*/, uint8_t /*target*/, uint8_t /*lun*/) {
    return {};
  }
};

// How TAtapi reaches the user without depending on a toolkit: the front end sets one.
class TAtapiSink {
 public:
  virtual ~TAtapiSink() = default;
  // A plain modal message with only an OK button.
  virtual void ShowPlainMessage(const std::string& text) = 0;
  // Removes at most one pending window message and dispatches it.
  virtual void PumpMessage() = 0;
};

}  // namespace tavo
