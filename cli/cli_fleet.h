// tavoflash-cli once its drive session is open: the start-up sequence, then a guarded run on
// the chosen drive, or with --drive all on every matching drive in turn (each with its own
// guard, lock, run log and outcome; a drive written but not verified stops the rest). With
// --if-needed a drive that reports the image's revision or a newer one gets nothing that
// writes, and a downgrade that --yes alone would answer is refused (session/revision_policy.h).
// Text and --json differ only in the port and the report they are given.
#pragma once

#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "cli/cli_startup.h"
#include "drive/atapi.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"
#include "image/firmware_image.h"
#include "session/run_record.h"

namespace tavo {

struct TCliFlashParts {
  const TCliOptions& options;
  const TFirmwareImage& image;
  TFlashEngine& engine;
  TFlashState& state;
  TAtapi& atapi;
  TUserPort& ui;
  TCliStartupHooks& hooks;
  TRunRecord& record;
  TCliReport& report;
  // A run on this drive begins (the JSON port tags its events with it); none: nothing.
  std::function<void(const std::string& node)> driveChanged;
  // Right before a drive's guarded run, once it is chosen: false refuses the run (nothing
  // is sent). None: every run goes ahead.
  std::function<bool(const TFlashState&)> beforeRun;
  // Print the notice of a deferred signal on standard error.
  bool signalNotice = true;
};

// Runs the start-up sequence and the runs it leads to; the program's exit status (the
// worst outcome over the drives; see cli_report.h). Offers the restart once every run is
// over, when one verified and every other is verified or already current (none failed, was
// refused, say because another program flashes it, or was left written but not verified).
int RunCliFlash(TCliFlashParts& parts);

// How a run on the selected drive ended without a run (--if-needed): the drive reports the
// image's revision (Current) or a newer one (Newer).
TDriveOutcome LeftAloneOutcome(int index, const std::string& node, const std::string& driveRevision,
                               const std::string& imageRevision);

}  // namespace tavo
