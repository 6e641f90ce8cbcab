// What both front ends hold around a flash run so that nothing cuts it in half: the
// per-drive lock (a second program that selects the same drive is refused; no run without
// it, so a lock folder that cannot be written refuses the run), the drive's
// block device opened exclusively (refused while a disc is mounted or another program
// holds it), the power check (refused on a nearly empty battery) and logind's block
// inhibitor for shutdown, sleep, idle and the power keys. Terminating signals are
// deferred by the front ends themselves (TSignalDeferral), as they tell the user
// differently.
//
// Typical use:
//   TRunGuard guard;
//   if (guard.Begin(atapi.DeviceName(row), log)) engine.BitBtn2Click();
//   guard.End();  // or let it go out of scope
#pragma once

#include <functional>
#include <string>

#include "drive/atapi.h"
#include "flash/flash_state.h"
#include "platform/drive_lock.h"
#include "platform/inhibitor.h"

namespace tavo {

// The device of the selected list item; empty when nothing is selected.
std::string SelectedDevice(const TFlashState& state, const TAtapi& atapi);

// Below this battery level a run on battery is refused.
inline constexpr double kLowestBatteryPercent = 25.0;

class TRunGuard {
 public:
  using TLog = std::function<void(const std::string&)>;

  TRunGuard() = default;
  ~TRunGuard() { End(); }
  TRunGuard(const TRunGuard&) = delete;
  TRunGuard& operator=(const TRunGuard&) = delete;

  // Takes everything in order: lock, exclusive device, power check, inhibitor. Each line
  // for the user goes to log. False: the run must not start (the reason has been logged,
  // nothing is held and nothing has been sent to the drive).
  bool Begin(const std::string& device, const TLog& log);
  // Releases the inhibitor, the device and the lock (nothing when not held).
  void End();

 private:
  TDriveLock lock_;
  TExclusiveDevice exclusive_;
  TInhibitor inhibitor_;
};

}  // namespace tavo
