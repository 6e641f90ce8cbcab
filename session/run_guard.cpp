#include "session/run_guard.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/power.h"

namespace tavo {

namespace {

// "/run/lock or /tmp".
std::string FolderList(const std::vector<std::string>& folders) {
  std::string text;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (i > 0) text += i + 1 == folders.size() ? " or " : ", ";
    text += folders[i];
  }
  return text.empty() ? std::string("any folder") : text;
}

}  // namespace

std::string SelectedDevice(const TFlashState& state, const TAtapi& atapi) {
  if (state.SelectedItemText().empty() || state.selectedItem >= kDriveMapSlots) return {};
  return atapi.DeviceName(state.driveMap[static_cast<size_t>(state.selectedItem)]);
}

bool TRunGuard::Begin(const std::string& device, const TLog& log) {
  End();
  const std::string name = device.empty() ? std::string("the drive") : device;

  switch (lock_.Acquire(name)) {
    case TDriveLockResult::Taken:
      break;
    case TDriveLockResult::Busy:
      log("Err:" + name + " is being flashed by another program.");
      log("Wait until that run ends, then start again.");
      return false;
    case TDriveLockResult::Refused:
      log("Err:The drive lock " + lock_.Path() + " cannot be used: " + lock_.Reason() + ".");
      log("Remove it, or ask its owner why it is there, then start again.");
      return false;
    case TDriveLockResult::Unavailable:
      // Without the lock nothing keeps a second program off the drive (for the sg driver's
      // and the virtual drives' names nothing else does).
      log("Err:No lock file for " + name + " could be made in " + FolderList(lock_.Directories()) +
          ".");
      log("Make it writable, or set TAVOFLASH_LOCK_DIR to a folder this user can write to, "
          "then start again.");
      return false;
  }

  // Only a block device can be claimed exclusively; the sg driver's and the virtual
  // drives' names are covered by the lock alone.
  if (device.rfind("/dev/sr", 0) == 0) {
    const int error = exclusive_.Open(device);
    if (error == EBUSY) {
      log("Err:" + device + " is in use (a mounted disc or another program).");
      log("Unmount the disc or close that program, then start again.");
      End();
      return false;
    }
    if (error != 0) {
      log("Cannot hold " + device + " exclusively: " + std::strerror(error));
    }
  }

  if (const std::optional<TPowerState> power = ReadPowerState(); power && power->onBattery) {
    const long percent = std::lround(power->percentage);
    if (power->percentage < kLowestBatteryPercent) {
      log("Err:Battery at " + std::to_string(percent) + "%: connect the computer to mains power.");
      End();
      return false;
    }
    log("Warning: running on battery (" + std::to_string(percent) + "%); mains power is safer.");
  }

  const std::string failure = inhibitor_.Take("Rewriting the firmware of the optical drive " +
                                              name + "; turning off now would damage it");
  if (!failure.empty()) log("Shutdown and sleep are not blocked: " + failure + ".");
  return true;
}

void TRunGuard::End() {
  inhibitor_.Release();
  exclusive_.Close();
  lock_.Release();
}

}  // namespace tavo
