// TVirtualDrive: an optical drive's firmware in software, with 8 x 64 KiB of flash that a
// flash run really changes. It runs on the TClock seam, so programming time and latency are
// virtual in tests and real (a few seconds) in the demo.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "drive/scsi.h"
#include "emulator/profiles.h"
#include "emulator/stored_drive.h"

namespace tavo {

// Outcome of one command as a drive (and the transport under it) produces it.
struct TCommandResult {
  uint8_t status = 0;                                    // SCSI status: 0 GOOD, 2 CHECK CONDITION
  std::array<uint8_t, scsi::kFixedSenseLength> sense{};  // fixed format, when senseLength > 0
  uint8_t senseLength = 0;
  uint32_t transferred = 0;     // bytes actually moved
  int systemError = 0;          // injected: the system refuses the request with this errno
  bool lostCompletion = false;  // injected: the request never completes
  uint32_t latencyMs = 0;       // injected: the completion arrives this much later
};

// Direction of the data phase as the drive sees it.
enum class TDataDirection { None, In, Out };

// Command kinds that faults are keyed by. FlashWrite matches its three forms; Any matches
// every command.
enum class TCommandKind {
  Any,
  TestUnitReady,
  RequestSense,
  Inquiry,
  StopPlayScan,
  StartStopUnit,
  ModeSense,
  FlashWrite,
  FlashDownload,  // FlashWrite mode 5, selector = bank
  FlashCommit,    // FlashWrite mode 4
  FlashRetry,     // FlashWrite mode 5, selector E0h + count or F0h + count
  FlashStatus,
  ReadMemory,
  ReadPatchInfo,
  WritePatch,
  ReadFirmware,
  Unknown,
};

// Kind of a CDB as the drive would decode it (never Any or FlashWrite).
TCommandKind ClassifyCdb(const uint8_t* cdb, size_t cdbLength);

inline constexpr int kAlways = -1;

// A fault injected into the drive's answers, for the next count matching commands (or for
// every one with kAlways).
struct TFault {
  enum class TType {
    CheckCondition,  // the drive answers CHECK CONDITION with sense; nothing is executed
    SystemError,     // the system refuses the request with errno; nothing reaches the drive
    LostCompletion,  // the request never completes; nothing reaches the drive
    Latency,         // the command runs, its completion arrives latencyMs later
    HostileReply,    // the command runs, then reply bytes from replyOffset are overwritten
  };
  TType type = TType::CheckCondition;
  TCommandKind kind = TCommandKind::Any;
  int count = 1;
  TSenseCode sense{};
  int systemError = 0;
  uint32_t latencyMs = 0;
  std::vector<uint8_t> reply;
  uint32_t replyOffset = 0;

  static TFault Check(TCommandKind kind, TSenseCode sense, int count = 1);
  static TFault Refuse(TCommandKind kind, int error, int count = 1);
  static TFault Lose(TCommandKind kind, int count = 1);
  static TFault Delay(TCommandKind kind, uint32_t ms, int count = kAlways);
  static TFault Hostile(TCommandKind kind, std::vector<uint8_t> bytes, uint32_t offset = 0,
                        int count = kAlways);
};

// One command as the drive received it, for tests and diagnostics.
struct TCommandRecord {
  scsi::TCdb cdb{};
  TCommandKind kind = TCommandKind::Unknown;
  uint32_t length = 0;
  TDataDirection direction = TDataDirection::None;
  uint8_t status = 0;
  TSenseCode sense{};
  uint64_t timeMs = 0;
};

// Byte 0 of the flash status reply.
enum class TFlashPhase : uint8_t {
  Idle = 0x00,           // nothing received (or the image was not taken)
  Receiving = 0x01,      // banks held, waiting for the commit
  CommitRefused = 0x02,  // a commit arrived and was refused
  Programming = 0x03,
  Programmed = 0x04,
};

class TVirtualDrive {
 public:
  TVirtualDrive(const TDriveProfile& profile, TClock& clock);
  ~TVirtualDrive();
  TVirtualDrive(const TVirtualDrive&) = delete;
  TVirtualDrive& operator=(const TVirtualDrive&) = delete;

  // Runs one CDB. data holds length bytes: filled for In, read for Out. Never throws and
  // never touches data beyond length; an injected system error or lost completion is
  // reported in the result and the command does not reach the drive.
  TCommandResult Execute(const uint8_t* cdb, size_t cdbLength, uint8_t* data, uint32_t length,
                         TDataDirection direction);

  // The drive's flash memory (8 banks of 64 KiB).
  const std::vector<uint8_t>& Flash() const;
  const TDriveProfile& Profile() const;

  // What the drive keeps between program runs: its memory and INQUIRY data, and the name
  // of its profile.
  TStoredDrive Store() const;
  // Takes the memory and INQUIRY data from stored, as if the drive had powered on with
  // them. False (and nothing changed) when stored does not hold a whole memory.
  bool Load(const TStoredDrive& stored);
  // hook runs (on the thread that sends the command) each time the memory or the INQUIRY
  // data change: a commit, a patch write, programming ending with a new identity.
  void OnStoredChange(std::function<void()> hook);

  void InjectFault(TFault fault);
  void ClearFaults();

  TFlashPhase Phase() const;
  bool Programming();  // true while the drive is programming its flash (by the clock)
  const std::vector<TCommandRecord>& History() const;
  void ClearHistory();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Plain byte sum of the first length bytes of a flash bank, modulo 10000h.
uint16_t FlashBankSum(const TVirtualDrive& drive, unsigned bank, uint32_t length);

}  // namespace tavo
