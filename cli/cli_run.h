// The terminal's flash run, guarded: terminating signals wait for the run's end (the
// first one prints a notice on standard error), the run guard holds the drive, checks the
// power and blocks shutdown and sleep, and afterwards the program ends with the signal
// that arrived, if any.
#pragma once

#include "drive/atapi.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"

namespace tavo {

// Printed on standard error when the first terminating signal arrives during a run.
inline constexpr const char* kCliSignalNotice =
    "tavoflash-cli: flashing is in progress; the program will end when it is safe, right "
    "after the run.\n";

// Runs engine.BitBtn2Click() inside the guards; the exit code of the run (0 verified,
// 1 failed or refused). Does not return when a terminating signal arrived during the run.
int RunGuardedFlash(TFlashEngine& engine, const TFlashState& state, const TAtapi& atapi,
                    TUserPort& ui);

}  // namespace tavo
