#include "cli/cli_run.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli_report.h"
#include "cli/cli_startup.h"
#include "platform/signal_deferral.h"
#include "session/run_guard.h"
#include "session/run_outcome.h"

namespace tavo {

int RunGuardedFlash(TFlashEngine& engine, const TFlashState& state, const TAtapi& atapi,
                    TUserPort& ui, const TGuardedRunSteps& steps) {
  int caught = 0;
  int code = kExitRefused;
  {
    // On a terminal the notice first clears the progress line it would otherwise break.
    const std::string notice =
        (isatty(STDERR_FILENO) != 0 ? std::string("\r\033[K") : std::string()) + kCliSignalNotice;
    TSignalDeferral deferral(steps.signalNotice ? STDERR_FILENO : -1, notice);
    TRunGuard guard;
    if (guard.Begin(SelectedDevice(state, atapi),
                    [&ui](const std::string& line) { ui.AddLog(line); })) {
      engine.BitBtn2Click();
      code = engine.LastRunBackupRefused()
                 ? kExitRefused
                 : DriveResultExit(DriveResultOf(FactsOfRun(engine, "tavoflash-cli").outcome));
      if (steps.whileHeld) steps.whileHeld();
    }
    guard.End();
    if (steps.afterRelease) steps.afterRelease();
    caught = deferral.Caught();
  }
  if (caught != 0) {
    if (steps.beforeSignalEnd) steps.beforeSignalEnd(caught);
    std::fflush(stdout);
    std::fflush(stderr);
    EndBySignal(caught);
  }
  return code;
}

}  // namespace tavo
