// TAtapi: the one object through which the program talks to optical drives. It owns the
// transport, the table of discovered drives, the current drive and the sense data of the
// last command.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "drive/ports.h"

namespace tavo {

struct DriveEntry {
  TDeviceHandle Handle = 0;
  uint8_t HaId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;
  char Identity[50] = {};  // INQUIRY bytes 8..31, position 24 always NUL
  char Revision[8] = {};   // INQUIRY bytes 32..35
};

inline constexpr int kDriveTableRows = 20;

// An optical drive pass-through discovery found beyond the four it counts: its INQUIRY
// answer as the drive gave it (fields up to their first zero byte), its handle closed.
struct TUnreachedDrive {
  std::string device;
  std::string identity;  // bytes 8..31
  std::string revision;  // bytes 32..35
};

// What the object is built on. The ports and the sink must outlive the object.
struct TAtapiConfig {
  bool passThrough = true;  // true: pass-through (/dev/srN); false: ASPI-style (sg driver)
  TPassThroughPort* passThroughPort = nullptr;
  TAspiPort* aspiPort = nullptr;
  TAtapiSink* sink = nullptr;
  TClock* clock = nullptr;
};

class TAtapi {
 public:
  // Chooses the transport, loads the ASPI manager if needed, discovers the drives and
  // selects row 0.
  explicit TAtapi(const TAtapiConfig& config);
  ~TAtapi();
  TAtapi(const TAtapi&) = delete;
  TAtapi& operator=(const TAtapi&) = delete;

  // Transport.
  uint8_t ExecCommand(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction);
  uint8_t ExecPassThrough(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t dataIn);
  void AbortRequest();
  void ShowSystemError(int code);
  bool IsNtPlatform();
  uint8_t NtPlatform() const { return ntPlatform_; }
  // Sense of the last command: bytes 2, 12 and 13 when that command ended in CHECK
  // CONDITION, 0 otherwise (a success, a refusal or time-out without status, or a command
  // that never completed has no sense, whatever an earlier command left behind).
  uint8_t LastSenseKey() const;
  uint8_t LastAsc() const;
  uint8_t LastAscq() const;
  uint8_t LastTargetStatus() const;

  // Discovery and table.
  int DiscoverDrives();
  void SetTarget(uint8_t haId, uint8_t target, uint8_t lun);
  void SelectDrive(int32_t row);
  void PumpMessage();
  int DriveCount() const { return driveCount_; }
  const DriveEntry& Drive(int row) const;  // any row of the 20; rows >= DriveCount are unused
  // The optical drives pass-through discovery found but did not count (the fifth and
  // later), in the order found; empty for ASPI.
  const std::vector<TUnreachedDrive>& UnreachedDrives() const { return unreached_; }
  // True when discovery or a command was refused access to a drive.
  bool AccessRefused() const { return accessHintShown_; }
  // The device a row stands for ("/dev/sr0", "emulated:sr1"; "aspi:H:T:L" when the port
  // names none); empty for a row without a drive.
  std::string DeviceName(int row) const;

  // Current drive.
  TDeviceHandle DriveHandle() const { return driveHandle_; }
  uint8_t HaId() const { return haId_; }
  uint8_t TargetId() const { return targetId_; }
  uint8_t Lun() const { return lun_; }
  TDeviceHandle LastOpenedHandle() const { return lastOpenedHandle_; }
  bool AspiLoaded() const { return aspiLibrary_; }

  // Command set: every wrapper returns the status byte of ExecCommand (1 = success).
  uint8_t TestUnitReady();
  uint8_t Inquiry(uint8_t* buffer);  // 50 bytes
  uint8_t StopPlayScan();
  uint8_t ModeSenseCapabilities(uint8_t* buffer);  // 256 bytes
  uint8_t StartStopUnit();
  uint8_t FlashWrite(uint8_t* data, uint8_t mode, uint8_t selector, uint16_t length,
                     uint16_t value);
  uint8_t FlashStatus(uint8_t* buffer);                                // 10 bytes
  uint8_t ReadMemory(uint8_t* buffer, uint8_t bank, uint16_t offset);  // 256 bytes
  uint8_t ReadPatchInfo(uint8_t* buffer);                              // 65536 bytes
  uint8_t WritePatch(uint8_t* data, uint8_t bank, uint32_t offset, uint8_t length);
  uint8_t ReadFirmware(uint8_t* buffer, uint16_t length);

  // Blocks as the transport last used them (for tests and diagnostics).
  const TPassThroughBlock& PassThrough() const { return passThrough_; }
  const TSrbExecSCSICmd* ExecRequest() const { return execRequest_.get(); }

 private:
  TAtapiConfig config_;
  TDeviceHandle driveHandle_ = 0;
  uint8_t haId_ = 0;
  uint8_t targetId_ = 0;
  uint8_t lun_ = 0;
  bool aspiLibrary_ = false;
  int32_t driveCount_ = 0;
  uint8_t ntPlatform_ = 0;
  TDeviceHandle lastOpenedHandle_ = 0;
  std::array<DriveEntry, kDriveTableRows> drives_{};
  std::array<std::string, kDriveTableRows> deviceNames_{};
  std::unique_ptr<TSrbExecSCSICmd> execRequest_;
  TPassThroughBlock passThrough_{};
  bool accessHintShown_ = false;
  bool checkCondition_ = false;  // the last command ended in CHECK CONDITION
  // Every handle a successful open returned, each closed once by the destructor.
  std::vector<TDeviceHandle> openedHandles_;
  std::vector<TUnreachedDrive> unreached_;
  // ASPI: the address was set for a drive (by discovery or by selecting a row that holds
  // one). Without it nothing is sent: address 0:0:0 may be any device, even a disk.
  bool aspiTargetSet_ = false;
  // The device-type probe lives as long as the object: a port that completes it after the
  // wait gave up writes here, never into a stack frame that is gone.
  TSrbGDEVBlock probe_{};

  // Waits, pumping messages, while the probe is pending, at most as long as a command.
  void WaitForProbe();

  void NoteAspiCompletion(const TSrbExecSCSICmd& srb);

  // Tells the user once how to get access to the drives after an open or a command was
  // refused with EACCES/EPERM; device names the device when known.
  void ShowAccessHint(const std::string& device);
};

// The message ShowSystemError shows for a system text: the text followed by one line feed
// when it fits the 80-character buffer (its terminating NUL included), else
// "Format message failed.  Error: %d\n" with lookupError, or with ERANGE when the text is
// too long for the buffer. systemText is null when no text could be had.
std::string SystemErrorMessage(const char* systemText, int lookupError);

// The program-wide object. AtapiUnitInitialize constructs it when the unit's
// initialisation counter drops from 0; AtapiUnitFinalize destroys it when the counter
// returns to 0. Front ends call both around their whole life, before any window exists.
void AtapiUnitInitialize(const TAtapiConfig& config);
void AtapiUnitFinalize();
TAtapi& Atapi();
bool AtapiExists();

}  // namespace tavo
