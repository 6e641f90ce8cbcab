// The terminal's part in the start-up sequence: the confirmation answered by --yes or on
// the terminal, the drive list printed, the drive chosen by --drive; and the exit code each
// way the start-up can end.
#pragma once

#include <cstdio>
#include <string>

#include "cli/cli_options.h"
#include "drive/atapi.h"
#include "session/drive_report.h"
#include "session/run_outcome.h"
#include "session/startup.h"

namespace tavo {

// Exit status by outcome (kExit..., session/run_outcome.h), the same with and without
// --json; a terminating signal during a run: 128 + its number.

class TCliStartupHooks final : public TStartupHooks {
 public:
  TCliStartupHooks(const TCliOptions& options, std::FILE* out = stdout, std::FILE* err = stderr,
                   std::FILE* in = stdin);

  // The drives the list is drawn from: their device nodes are shown and --drive DEVICE
  // and the no-drive reasons use them. Without it the list shows no devices.
  void SetDrives(const TAtapi& atapi) { atapi_ = &atapi; }

  void ShowImageIdentity(const std::string& identity) override { identity_ = identity; }
  bool Confirm(const std::string& question) override;
  bool ChooseDrive(TFlashState& state) override;
  bool NoMatchingDrive() override;
  void ShowSelection(const std::string& caption, const std::string& selected) override;

  // The last question before anything is written: which drive, and the revision change.
  // --yes answers it. False: the user said no (nothing was sent that writes).
  bool ConfirmTarget(const TFlashTarget& target);
  // The last question in other words (a restore's); --yes answers it.
  bool ConfirmLast(const std::string& question) { return Ask(question, "yes"); }

  // The exit code for a start-up that did not end Ready.
  int ExitCode(TStartupOutcome outcome) const;
  // Why --drive named no drive of the list (one sentence); empty when it did.
  const std::string& ChoiceError() const { return choiceError_; }

 private:
  bool Refuse(const std::string& why);
  // Names on standard error the matching drives the search did not reach.
  void ShowUnreached();
  // Asks question on the terminal; --yes answers it, printed after it as yesAnswer.
  bool Ask(const std::string& question, const char* yesAnswer);

  const TCliOptions& options_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  bool badIndex_ = false;
  const TAtapi* atapi_ = nullptr;
  std::string identity_;
  std::string choiceError_;
};

}  // namespace tavo
