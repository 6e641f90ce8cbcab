// What tavoflash-cli says about its runs beyond the procedure's own log lines: the drives
// found, the outcome of each run, and the errors that end the program. Two ways to say it:
// plain text on standard error (TTextReport), and JSON Lines events (TJsonReport, in
// cli/json_events.h). The exit status follows from the outcome, the same for both.
#pragma once

#include <cstdio>
#include <string>

#include "drive/atapi.h"
#include "flash/flash_state.h"
#include "session/run_outcome.h"

namespace tavo {

// How a run on one drive ended, as the exit status and --json tell it: the outcome class
// (session/run_outcome.h), which names it ("verified", "current", "nothing_written",
// "written_unverified", "refused") and gives its exit status.
using TDriveResult = TOutcomeClass;

// The worse of two exit statuses for a run over several drives: written but not verified
// (3) before failed (1) before usage (2) before refused (4) before success (0).
int WorseExit(int a, int b);

struct TDriveOutcome {
  TDriveResult result = TDriveResult::NothingWritten;
  int index = -1;    // the drive's list index
  std::string node;  // its device node
  std::string oldRevision;
  std::string newRevision;  // empty when unknown (a run that wrote and did not verify)
  std::string summary;      // a few words ("Verified: now 1.08; restart")
  std::string text;         // the paragraph: what happened, the drive's state, what to do
  std::string logPath;      // the run log, empty when none was written
  std::string backupPath;   // the backup the run made before it wrote, empty when none
  bool Changed() const { return OutcomeChanged(result); }
};

class TCliReport {
 public:
  virtual ~TCliReport() = default;
  // The drive list is known (after the start-up sequence, also when nothing matched).
  virtual void Drives(const TAtapi& /*atapi*/, const TFlashState& /*state*/) {}
  // A run on list item `index` at `node` begins (lines and phases now belong to it).
  virtual void RunBegins(int /*index*/, const std::string& /*node*/) {}
  virtual void Outcome(const TDriveOutcome& outcome) = 0;
  // The program ends with exitStatus for a reason other than a run's outcome. code: a
  // fixed word (docs/json.md); shown: the message has already been printed for a person.
  virtual void Error(const std::string& code, const std::string& message, int exitStatus,
                     bool shown) = 0;
  // A terminating signal that arrived during a run ends the program now.
  virtual void Signal(int /*signal*/) {}
};

// The terminal's plain words: the outcome paragraph, the revision change and the run log's
// path on err; errors as "tavoflash-cli: MESSAGE" lines.
class TTextReport final : public TCliReport {
 public:
  explicit TTextReport(std::FILE* err = stderr) : err_(err) {}
  void Outcome(const TDriveOutcome& outcome) override;
  void Error(const std::string& code, const std::string& message, int exitStatus,
             bool shown) override;

 private:
  std::FILE* err_;
};

}  // namespace tavo
