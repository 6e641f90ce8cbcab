// tavoflash-cli: the flash procedure in a terminal. Runs the shared start-up sequence
// (confirmation, matching drives, selection) and flashes the chosen drive, printing every
// log line as it happens.
//
// Exit codes: 0 the run verified (or --list found drives), 1 the run failed, was refused
// (drive in use, battery too low) or the user cancelled, 2 bad usage or no matching drive;
// a terminating signal that arrived during the run ends the program right after it, with
// that signal.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_check.h"
#include "cli/cli_options.h"
#include "cli/cli_port.h"
#include "cli/cli_run.h"
#include "cli/cli_startup.h"
#include "drive/clock.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"
#include "platform/restart.h"
#include "session/drive_report.h"
#include "session/drive_session.h"
#include "session/options.h"
#include "session/output_files.h"
#include "session/run_outcome.h"
#include "session/run_record.h"
#include "session/startup.h"
#include "session/version.h"

namespace tavo {
namespace {

int Run(int argc, char** argv) {
  const TCommandLine line = ParseCommandLine({argv + 1, argv + argc});
  TCliOptions options;
  std::string error = line.error;
  if (!line.Ok() || !ParseCliArgs(line.rest, options, error)) {
    PrintCliUsageError(error, stderr);
    return kExitUsage;
  }
  if (line.help) {
    PrintCliUsage(stdout);
    return kExitVerified;
  }
  if (line.version) {
    std::fputs(VersionText("tavoflash-cli", EmbeddedImage()).c_str(), stdout);
    return kExitVerified;
  }

  if (const std::string bad = CheckOutputFiles(line.options); !bad.empty()) {
    std::fprintf(stderr, "tavoflash-cli: %s\n", bad.c_str());
    return kExitUsage;
  }

  TRealClock clock;
  TCliAtapiSink sink;
  TDriveSession session(line.options, clock, sink, {"tavoflash-cli", &EmbeddedImage()});
  if (!session.Ok()) {
    std::fprintf(stderr, "tavoflash-cli: %s\n", session.Error().c_str());
    return kExitUsage;
  }

  if (options.check) {
    return RunCheck(session.Atapi(), EmbeddedImage(), clock, stdout, line.options.logPath);
  }

  TCliPort* port = nullptr;
  TSystemRestarter restarter(
      session.Emulated(),
      {.log = [&port](const std::string& text) { port->AddLog(text); },
       .failure =
           [](const std::string& why) {
             std::fprintf(stderr, "tavoflash-cli: the restart request failed: %s\n", why.c_str());
           }});
  TRunRecord record("tavoflash-cli", line.options, line.options.logPath);
  TCliPort::TOptions portOptions;
  portOptions.restarter = &restarter;
  portOptions.showProgress = isatty(STDERR_FILENO) != 0;
  portOptions.phaseLines = !portOptions.showProgress;
  portOptions.logTap = [&record](const std::string& text) { record.Line(text); };
  if (options.reboot) {
    portOptions.rebootAnswer = true;
  } else if (options.yes) {
    portOptions.rebootAnswer = false;
  }
  TCliPort ui(portOptions);
  port = &ui;

  TFlashState state;
  TFlashEngine engine(state, session.Atapi(), EmbeddedImage(), ui, clock);
  TCliStartupHooks hooks(options);
  hooks.SetDrives(session.Atapi());
  const TStartupOutcome outcome = RunStartup(engine, state, ui, hooks);
  if (outcome == TStartupOutcome::NoDrive) {
    std::string why;
    for (const std::string& reason : NoDriveReasons(session.Atapi(), state.edit1)) {
      why += reason + "\n";
    }
    record.EndWithoutRun(EmbeddedImage(), "No matching drive", why);
  }
  if (outcome != TStartupOutcome::Ready) return hooks.ExitCode(outcome);
  // The last question before the first command that writes: which drive, which change.
  if (!hooks.ConfirmTarget(SelectedTarget(session.Atapi(), state))) return kExitFailed;

  record.Begin(session.Atapi(), state, EmbeddedImage());
  TRunFacts facts;
  TGuardedRunSteps steps;
  steps.whileHeld = [&] {
    if (engine.LastRunVerified()) facts.newRevision = ReadDriveRevision(session.Atapi());
  };
  // What the run left the drive in, said before a deferred signal may end the program.
  steps.afterRelease = [&] {
    const std::string revision = facts.newRevision;
    facts = FactsOfRun(engine, "tavoflash-cli");
    facts.newRevision = revision;
    facts.imageRevision = ImageRevision(state.edit1);
    if (facts.outcome == TOutcomeClass::Verified && !revision.empty()) {
      const std::string old = ReplaceSelectedRevision(state, revision);
      std::fprintf(stderr, "%s -> %s\n", old.c_str(), revision.c_str());
    }
    const std::string text = OutcomeText(facts);
    std::fprintf(stderr, "\n%s\n", text.c_str());
    if (!record.Log().Path().empty()) {
      std::fprintf(stderr, "The log of this run: %s\n", record.Log().Path().c_str());
    }
    record.End(facts, text);
  };
  const int code = RunGuardedFlash(engine, state, session.Atapi(), ui, steps);
  // Asked only now that nothing holds the drive and signals act as usual again.
  if (engine.LastRunVerified()) engine.OfferReboot();
  return code;
}

}  // namespace
}  // namespace tavo

int main(int argc, char** argv) {
  return tavo::Run(argc, argv);
}
