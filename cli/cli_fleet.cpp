#include "cli/cli_fleet.h"

#include <vector>

#include "cli/cli_run.h"
#include "session/drive_report.h"
#include "session/revision_policy.h"
#include "session/run_outcome.h"
#include "session/unreached_drives.h"

namespace tavo {

namespace {

constexpr const char* kProgram = "tavoflash-cli";

// The class, the words and the new revision of a drive's outcome, from the run's facts.
void TakeFacts(TDriveOutcome& outcome, const TRunFacts& facts) {
  outcome.result = facts.outcome;
  // A drive that was not changed runs what it ran; one written and not verified: unknown.
  if (facts.outcome == TOutcomeClass::Verified || facts.outcome == TOutcomeClass::Current ||
      facts.outcome == TOutcomeClass::Newer) {
    outcome.newRevision = facts.newRevision;
  } else if (facts.outcome == TOutcomeClass::WrittenUnverified) {
    outcome.newRevision.clear();
  } else {
    outcome.newRevision = outcome.oldRevision;
  }
  outcome.summary = OutcomeSummary(facts);
  outcome.text = OutcomeText(facts);
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
  const TRevisionVerdict verdict = DecideRevision(outcome.oldRevision, imageRevision,
                                                  {.ifNeeded = parts.options.ifNeeded,
                                                   .allowOlder = parts.options.allowOlder,
                                                   .restore = !parts.options.restoreFile.empty(),
                                                   .unattended = parts.options.yes});
  if (verdict == TRevisionVerdict::LeaveSame || verdict == TRevisionVerdict::LeaveNewer) {
    // Only the journal hears of it: a fleet's daily look must not rotate away run logs.
    outcome = LeftAloneOutcome(item, outcome.node, outcome.oldRevision, imageRevision);
    parts.record.EndWithoutRun(parts.image, outcome.summary, outcome.text);
    parts.report.Outcome(outcome);
    return outcome;
  }
  if (verdict == TRevisionVerdict::RefuseOlder) {
    TakeFacts(outcome, RefusedFacts("it reports " + outcome.oldRevision +
                                        ", newer than the image's " + imageRevision +
                                        ", and --yes alone does not install an older "
                                        "revision: give --allow-older to do so.",
                                    kProgram));
    parts.report.Outcome(outcome);
    return outcome;
  }
  if (parts.beforeRun && !parts.beforeRun(parts.state)) {
    TakeFacts(outcome, RefusedFacts("the run was not confirmed.", kProgram));
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
    TRunFacts facts =
        ran ? FactsOfRun(parts.engine, kProgram)
            : RefusedFacts("the run was refused before it began (the lines above say why).",
                           kProgram);
    facts.newRevision = newRevision;
    facts.imageRevision = imageRevision;
    TakeFacts(outcome, facts);
    if (facts.outcome == TOutcomeClass::Verified && !newRevision.empty()) {
      ReplaceSelectedRevision(parts.state, newRevision);
    }
    parts.record.End(facts, outcome.text);
    outcome.logPath = parts.record.Log().Path();
    if (ran) outcome.backupPath = parts.engine.LastBackupPath();
    parts.report.Outcome(outcome);
  };
  steps.beforeSignalEnd = [&](int signal) { parts.report.Signal(signal); };
  RunGuardedFlash(parts.engine, parts.state, parts.atapi, parts.ui, steps);
  return outcome;
}

}  // namespace

TDriveOutcome LeftAloneOutcome(int index, const std::string& node, const std::string& driveRevision,
                               const std::string& imageRevision) {
  TDriveOutcome outcome;
  outcome.index = index;
  outcome.node = node;
  outcome.oldRevision = driveRevision;
  TakeFacts(outcome, CurrentFacts(node, driveRevision, imageRevision));
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
  // The restart waits while any drive is anything but verified or current: one refused
  // because another program flashes it above all.
  bool restartable = true;
  for (size_t k = 0; k < items.size(); ++k) {
    // The drive the run talks to follows the list item (the start-up chose the first).
    parts.state.selectedItem = items[k];
    parts.engine.SelectCurrentItem();
    const TDriveOutcome outcome = FlashSelected(parts);
    worst = WorseExit(worst, OutcomeExitStatus(outcome.result));
    verified = verified || outcome.result == TDriveResult::Verified;
    // Verified, current or newer: the classes that end in success.
    restartable = restartable && OutcomeExitStatus(outcome.result) == kExitVerified;
    if (outcome.result == TDriveResult::WrittenUnverified && k + 1 < items.size()) {
      parts.report.Error("stopped", RemainingDrivesLeftText(outcome.node), worst, false);
      break;
    }
  }
  // A matching drive the search did not reach was left alone: --drive all did not do all.
  if (const std::vector<std::string> unreached =
          UnreachedDriveLines(parts.atapi, parts.state.edit1);
      parts.options.allDrives && !unreached.empty()) {
    worst = WorseExit(worst, kExitRefused);
    parts.report.Error("not_reached",
                       std::to_string(unreached.size() - 1) +
                           " matching drive(s) were not reached and got nothing: start again "
                           "with --transport aspi to reach every drive.",
                       kExitRefused, false);
  }
  // Asked only now that nothing holds a drive and signals act as usual again; never while
  // a drive waits for another try or another program's run.
  if (verified && restartable) parts.engine.OfferReboot();
  return worst;
}

}  // namespace tavo
