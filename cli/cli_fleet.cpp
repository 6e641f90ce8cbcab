#include "cli/cli_fleet.h"

#include <vector>

#include "cli/cli_run.h"
#include "session/drive_report.h"
#include "session/run_outcome.h"

namespace tavo {

namespace {

constexpr const char* kProgram = "tavoflash-cli";

TDriveOutcome RefusedOutcome(TDriveOutcome outcome, const std::string& why) {
  outcome.result = TDriveResult::Refused;
  outcome.newRevision = outcome.oldRevision;  // nothing was sent: as it was
  outcome.summary = "Refused: nothing sent";
  outcome.text = "Nothing was sent to the drive: " + why + " The drive is unchanged.";
  return outcome;
}

// One guarded run on the selected item of parts.state.
TDriveOutcome FlashSelected(TCliFlashParts& parts) {
  const int item = parts.state.selectedItem;
  TDriveOutcome outcome;
  outcome.index = item;
  outcome.node = ItemDevice(parts.atapi, parts.state, item);
  outcome.oldRevision = ItemRevision(parts.state.SelectedItemText());
  if (parts.driveChanged) parts.driveChanged(outcome.node);
  parts.report.RunBegins(item, outcome.node);

  const std::string imageRevision = ImageRevision(parts.state.edit1);
  if (parts.options.ifNeeded && !imageRevision.empty() && outcome.oldRevision == imageRevision) {
    // Only the journal hears of it: a fleet's daily look must not rotate away run logs.
    outcome = CurrentOutcome(item, outcome.node, imageRevision);
    parts.record.EndWithoutRun(parts.image, outcome.summary, outcome.text);
    parts.report.Outcome(outcome);
    return outcome;
  }
  if (parts.beforeRun && !parts.beforeRun(parts.state)) {
    outcome = RefusedOutcome(outcome, "the run was not confirmed.");
    parts.report.Outcome(outcome);
    return outcome;
  }

  parts.record.Begin(parts.atapi, parts.state, parts.image);
  bool ran = false;
  std::string newRevision;
  TGuardedRunSteps steps;
  steps.signalNotice = parts.signalNotice;
  steps.whileHeld = [&] {
    ran = true;
    if (parts.engine.LastRunVerified()) newRevision = ReadDriveRevision(parts.atapi);
  };
  // What the run left the drive in, said before a deferred signal may end the program.
  steps.afterRelease = [&] {
    if (!ran) {
      outcome = RefusedOutcome(outcome,
                               "the run was refused before it began (the lines above "
                               "say why).");
      parts.record.EndRefused(outcome.text);
    } else if (parts.engine.LastRunBackupRefused()) {
      outcome = RefusedOutcome(outcome,
                               "the drive's firmware could not be backed up before the first "
                               "write (the lines above say why).");
      parts.record.EndRefused(outcome.text);
    } else {
      TRunFacts facts = FactsOfRun(parts.engine, kProgram);
      facts.newRevision = newRevision;
      facts.imageRevision = imageRevision;
      outcome.result = DriveResultOf(facts.outcome);
      if (facts.outcome == TOutcomeClass::Verified) {
        outcome.newRevision = newRevision;
        if (!newRevision.empty()) ReplaceSelectedRevision(parts.state, newRevision);
      } else if (facts.outcome == TOutcomeClass::NothingWritten) {
        outcome.newRevision = outcome.oldRevision;
      }
      outcome.summary = OutcomeSummary(facts);
      outcome.text = OutcomeText(facts);
      parts.record.End(facts, outcome.text);
    }
    outcome.logPath = parts.record.Log().Path();
    if (ran) outcome.backupPath = parts.engine.LastBackupPath();
    parts.report.Outcome(outcome);
  };
  steps.beforeSignalEnd = [&](int signal) { parts.report.Signal(signal); };
  RunGuardedFlash(parts.engine, parts.state, parts.atapi, parts.ui, steps);
  return outcome;
}

}  // namespace

TDriveOutcome CurrentOutcome(int index, const std::string& node, const std::string& revision) {
  TDriveOutcome outcome;
  outcome.result = TDriveResult::Current;
  outcome.index = index;
  outcome.node = node;
  outcome.oldRevision = revision;
  outcome.newRevision = revision;
  outcome.summary = "Nothing to do: already at " + revision;
  outcome.text = "Nothing to do: " + (node.empty() ? std::string("the drive") : node) +
                 " is already at " + revision +
                 ", the image's revision. Nothing that writes was sent to it.";
  return outcome;
}

int RunCliFlash(TCliFlashParts& parts) {
  const TStartupOutcome started = RunStartup(parts.engine, parts.state, parts.ui, parts.hooks);
  if (started != TStartupOutcome::Cancelled) parts.report.Drives(parts.atapi, parts.state);
  switch (started) {
    case TStartupOutcome::Ready:
      break;
    case TStartupOutcome::NoDrive: {
      std::string why;
      for (const std::string& reason : NoDriveReasons(parts.atapi, parts.state.edit1)) {
        why += reason + "\n";
      }
      parts.record.EndWithoutRun(parts.image, "No matching drive", why);
      parts.report.Error("no_matching_drive", "Can't find the device to upgrade !!", kExitUsage,
                         true);
      return kExitUsage;
    }
    case TStartupOutcome::Cancelled:
      parts.report.Error("cancelled", "cancelled, nothing was sent to a drive.", kExitRefused,
                         true);
      return kExitRefused;
    case TStartupOutcome::Stopped: {
      const int code = parts.hooks.ExitCode(started);
      if (code != kExitVerified) {
        parts.report.Error("no_such_drive", parts.hooks.ChoiceError(), code, true);
      }
      return code;
    }
  }

  std::vector<int> items = {parts.state.selectedItem};
  if (parts.options.allDrives) {
    items.clear();
    for (int i = 0; i < static_cast<int>(parts.state.items.size()); ++i) items.push_back(i);
  }
  int worst = kExitVerified;
  bool verified = false;
  for (size_t k = 0; k < items.size(); ++k) {
    // The drive the run talks to follows the list item (the start-up chose the first).
    parts.state.selectedItem = items[k];
    parts.engine.SelectCurrentItem();
    const TDriveOutcome outcome = FlashSelected(parts);
    worst = WorseExit(worst, DriveResultExit(outcome.result));
    verified = verified || outcome.result == TDriveResult::Verified;
    if (outcome.result == TDriveResult::WrittenUnverified && k + 1 < items.size()) {
      parts.report.Error("stopped",
                         outcome.node +
                             " was written but not verified: the remaining drives were left "
                             "alone. Do not power off or restart the computer.",
                         worst, false);
      break;
    }
  }
  // Asked only now that nothing holds a drive and signals act as usual again; never while
  // a drive waits for another try.
  if (verified && worst != kExitWrittenUnverified) parts.engine.OfferReboot();
  return worst;
}

}  // namespace tavo
