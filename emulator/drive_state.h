// The state of one virtual drive, shared by the files that make up TVirtualDrive (power-on
// firmware, command handlers, the command entry point). Internal to emulator/.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "drive/scsi.h"
#include "emulator/stored_drive.h"
#include "emulator/virtual_drive.h"

namespace tavo {

inline constexpr size_t kInquirySize = 96;
static_assert(kInquirySize == kStoredInquirySize);

// The injected faults that apply to one command, taken from the drive's list.
struct TFaultPass {
  std::optional<TFault> terminal;  // the first refusal, lost completion or CHECK CONDITION
  uint32_t latencyMs = 0;          // the sum of every matching delay
  std::vector<TFault> hostile;     // every matching hostile reply, in order
};

// Collects the faults that match kind and counts each one used; faults used up leave the
// list. Of the terminal faults only the first counts (the others wait for a later command).
TFaultPass TakeFaults(std::vector<TFault>& faults, TCommandKind kind);

// Overwrites the reply in data[0 .. length) with each hostile fault's bytes, cut at the end
// of the buffer, and extends result.transferred over what was written.
void ApplyHostileReplies(const std::vector<TFault>& hostile, uint8_t* data, uint32_t length,
                         TCommandResult& result);

// Flash memory of drives that are gone, kept for the next drive that powers on: a fresh
// 512 KiB block costs a page fault per page, which dominates short runs made by the
// thousand (test rigs, the fuzzer). At most a few blocks are kept.
std::vector<uint8_t> TakeSpareFlash();
void KeepSpareFlash(std::vector<uint8_t>&& flash);

struct TVirtualDrive::TImpl {
  TImpl(const TDriveProfile& p, TClock& c) : profile(p), clock(c) {}
  ~TImpl() { KeepSpareFlash(std::move(flash)); }
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  TDriveProfile profile;
  TClock& clock;
  std::vector<uint8_t> flash;
  std::array<std::optional<std::vector<uint8_t>>, scsi::kMaxBanks> held;
  TFlashPhase phase = TFlashPhase::Idle;
  uint16_t lastChecksum = 0;
  uint8_t lastCommitSelector = 0;
  bool programming = false;
  uint64_t programmingEndMs = 0;
  bool mediumPresent = true;
  bool trayOpen = false;
  std::array<uint8_t, kInquirySize> inquiry{};
  std::vector<TFault> faults;
  std::vector<TCommandRecord> history;
  std::function<void()> onStoredChange;  // see TVirtualDrive::OnStoredChange
  uint32_t memoryReads = 0;              // replies to memory reads so far (unstable reads)

  // Per-command context.
  uint8_t* data = nullptr;
  uint32_t length = 0;
  TDataDirection direction = TDataDirection::None;

  void PowerOn();
  void UpdateProgramming();
  void AdoptTemplateFromFlash();
  // Tells the owner that the memory or the INQUIRY data changed.
  void StoredChanged() {
    if (onStoredChange) onStoredChange();
  }
  // A drive with unstable reads: one byte of the reply differs from the memory, another
  // byte on every read.
  void DisturbRead(uint8_t* bytes, uint32_t n);

  TCommandResult Good(uint32_t transferred) const {
    TCommandResult r;
    r.status = scsi::kStatusGood;
    r.transferred = transferred;
    return r;
  }
  static TCommandResult Check(TSenseCode s) {
    TCommandResult r;
    r.status = scsi::kStatusCheckCondition;
    r.sense[0] = scsi::kSenseCurrentFixed;
    r.sense[scsi::kSenseKeyByte] = s.key;
    r.sense[scsi::kSenseAdditionalLengthByte] =
        scsi::kFixedSenseLength - (scsi::kSenseAdditionalLengthByte + 1);
    r.sense[scsi::kSenseAscByte] = s.asc;
    r.sense[scsi::kSenseAscqByte] = s.ascq;
    r.senseLength = scsi::kFixedSenseLength;
    return r;
  }
  // Whether the host offered a data-in buffer of at least needed bytes.
  bool InOk(uint32_t needed) const {
    return needed == 0 || (direction == TDataDirection::In && length >= needed);
  }
  // Returns data into the host buffer after InOk approved it.
  TCommandResult Reply(const uint8_t* src, uint32_t n) {
    if (!InOk(n)) return Check(scsi::kSenseInvalidFieldInCdb);
    if (n > 0) std::memcpy(data, src, n);
    return Good(n);
  }
  // Validates a data-out phase of needed bytes; nullopt when fine.
  std::optional<TCommandResult> OutCheck(uint32_t needed) const {
    if (needed == 0) return std::nullopt;
    if (direction != TDataDirection::Out) return Check(scsi::kSenseInvalidFieldInCdb);
    if (length < needed) return Check(scsi::kSenseParameterListLength);
    return std::nullopt;
  }

  TCommandResult Dispatch(const uint8_t* cdb, size_t cdbLength, TCommandKind kind);
  TCommandResult TestUnitReady();
  TCommandResult RequestSense(const uint8_t* cdb);
  TCommandResult Inquiry(const uint8_t* cdb);
  TCommandResult StartStopUnit(const uint8_t* cdb);
  TCommandResult ModeSense(const uint8_t* cdb);
  TCommandResult FlashWrite(const uint8_t* cdb);
  TCommandResult Commit(const TCommitRule& rule, uint8_t selector, uint16_t value,
                        uint16_t dataLength);
  TCommandResult FlashStatus();
  TCommandResult ReadMemory(const uint8_t* cdb);
  TCommandResult ReadPatchInfo();
  TCommandResult WritePatch(const uint8_t* cdb);
  TCommandResult ReadFirmware(const uint8_t* cdb);
};

}  // namespace tavo
