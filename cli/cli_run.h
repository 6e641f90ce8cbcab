// The terminal's flash run, guarded: terminating and stop signals wait for the run's end
// (the first one prints a notice on standard error), the run guard holds the drive, checks
// the power and blocks shutdown and sleep, and afterwards the program ends with the
// terminating signal that arrived, if any.
#pragma once

#include <functional>

#include "drive/atapi.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"

namespace tavo {

// Printed on standard error when the first terminating signal arrives during a run.
inline constexpr const char* kCliSignalNotice =
    "tavoflash-cli: flashing is in progress; the program will end when it is safe, right "
    "after the run.\n";

// What the caller does around the run.
struct TGuardedRunSteps {
  // After the run, while the drive is still held: the last drive commands (the re-read of
  // the revision).
  std::function<void()> whileHeld;
  // Once the drive, its lock and the inhibitor are let go, while signals still wait: what
  // the program says about the run and writes to its logs, so that a deferred signal can
  // never cut it off.
  std::function<void()> afterRelease;
  // The first terminating signal arrived during the run: called with its number right
  // before the program ends with it (after afterRelease).
  std::function<void(int)> beforeSignalEnd;
  // Print the notice of the first signal on standard error (off for --json when standard
  // error is no terminal).
  bool signalNotice = true;
};

// Runs engine.BitBtn2Click() inside the guards; the exit code of the run: kExitVerified,
// kExitFailed (nothing written), kExitWrittenUnverified, or kExitRefused when the guard
// refused the run before anything was sent (whileHeld is then not called). Does not return
// when a terminating signal arrived during the run: the program then ends with it after
// steps.afterRelease. Questions for the user (the restart) belong after the return, when
// nothing is held any more.
int RunGuardedFlash(TFlashEngine& engine, const TFlashState& state, const TAtapi& atapi,
                    TUserPort& ui, const TGuardedRunSteps& steps = {});

}  // namespace tavo
