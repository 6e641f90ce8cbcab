// What a finished flash run means for the user: the class of its outcome (and so the exit
// status), and what to do next in plain words, for both front ends and the run log.
#pragma once

#include <optional>
#include <string>

#include "drive/atapi.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/phase.h"

namespace tavo {

// The program's exit status (tavoflash-cli; the window keeps the same classes).
inline constexpr int kExitVerified = 0;           // verified, or nothing to do
inline constexpr int kExitFailed = 1;             // failed, nothing written: the drive is unchanged
inline constexpr int kExitUsage = 2;              // bad usage, or no matching drive
inline constexpr int kExitWrittenUnverified = 3;  // written, not verified: do not power off
inline constexpr int kExitRefused = 4;            // refused before anything was sent to the drive

// How a run on one drive ended. Every front end, the run log, --history and the JSON output
// take it from the facts below (FactsOfRun, RefusedFacts, CurrentFacts), never on their own.
enum class TOutcomeClass {
  NothingWritten,     // no command that writes was taken: none was sent, or the drive refused
                      // every one as an illegal request
  WrittenUnverified,  // a command that writes may have changed the drive, and it was not
                      // verified: it needs attention
  Verified,           // the read-back checksum matched
  Refused,            // refused before anything was sent (drive busy, battery, the user)
  Current,            // --if-needed: the drive already reports the image's revision
  Newer,              // --if-needed: the drive reports a newer revision than the image's
};

// What the outcome words are made from.
struct TRunFacts {
  TOutcomeClass outcome = TOutcomeClass::NothingWritten;
  // The firmware itself may have reached the drive: a bank or a commit it did not refuse.
  bool firmwareSent = false;
  // Commands that write were sent and the drive refused every one as an illegal request.
  bool writesRefused = false;
  TVerifyFailure verifyFailure = TVerifyFailure::None;
  // Where a run that had begun to send the firmware stopped; nothingAttempted: the drive's
  // flash status said it attempted nothing, and it had taken nothing; statusUnanswered:
  // the flash-status query after the failure got no answer.
  TRunStop stop = TRunStop::None;
  bool nothingAttempted = false;
  bool statusUnanswered = false;
  // The program the user runs, named where the advice is to run it again, and how that
  // program checks the drives ("run tavoflash-cli --check").
  std::string program = "TAVOFlash";
  std::string checkAdvice = "run tavoflash-cli --check";
  // Refused: why nothing was sent (a sentence); readOnly: the run had read the drive (its
  // backup) before it was refused, so commands were sent, only none that writes. Current:
  // the drive's device node.
  std::string why{};
  bool readOnly = false;
  std::string device{};
  // After a verified run: the revision the drive reports now (empty when it could not be
  // read), and the revision of the image it was given. Current: the revision it reports.
  std::string newRevision;
  std::string imageRevision;
};

// The class of a run from what it wrote: verified, else written when a command that writes
// may have changed the drive, else nothing written.
TOutcomeClass ClassifyRun(bool verified, const TWriteFacts& writes);

// The facts of the engine's last run (the revisions are left for the caller).
TRunFacts FactsOfRun(const TFlashEngine& engine, const std::string& program);
// A run refused before anything was sent; why: a sentence.
TRunFacts RefusedFacts(const std::string& why, const std::string& program);
// --if-needed: device already reports revision, the image's.
// --if-needed left the drive alone: Current when it reports the image's revision, Newer
// when it reports a newer one.
TRunFacts CurrentFacts(const std::string& device, const std::string& revision,
                       const std::string& imageRevision);

// True when a verified run's drive reports the image's revision.
bool ReportsImageRevision(const TRunFacts& facts);

// One short paragraph: what happened, the drive's state, what to do. An outcome that leaves
// the drive written and not verified never advises a restart.
std::string OutcomeText(const TRunFacts& facts);
// What --drive all says when it stops after the drive at node was written but not verified.
std::string RemainingDrivesLeftText(const std::string& node);

// A few words for a status bar or a journal summary ("Failed: drive unchanged", ...).
std::string OutcomeSummary(const TRunFacts& facts);

// The outcome class as the run log's "result", --history and the terminal's JSON name it:
// "verified", "current", "nothing_written", "written_unverified" or "refused". Never
// renamed.
const char* OutcomeClassName(TOutcomeClass outcome);

// 0 verified or current, 1 nothing written, 3 written unverified, 4 refused.
int OutcomeExitStatus(TOutcomeClass outcome);

// True when the drive may differ from before the run (the JSON's "changed").
inline bool OutcomeChanged(TOutcomeClass outcome) {
  return outcome == TOutcomeClass::Verified || outcome == TOutcomeClass::WrittenUnverified;
}

// The revision part of an image identity ("1.08" of "TAVO    QRD-1040C       1.08").
std::string ImageRevision(const std::string& edit1);

// The revision the current drive reports now (INQUIRY bytes 32..35, trailing blanks and
// zero bytes dropped); empty when the INQUIRY failed.
std::string ReadDriveRevision(TAtapi& atapi);

// The revision at the end of a drive list item ("1.05" of "TAVO    QRD-1040C        1.05");
// empty when the item has none.
std::string ItemRevision(const std::string& item);

// Replaces the revision at the end of item (the drive list shows "<identity> <revision>")
// with revision, and returns the revision it replaced.
std::string ReplaceItemRevision(std::string& item, const std::string& revision);
// The same for the selected item of state.
std::string ReplaceSelectedRevision(TFlashState& state, const std::string& revision);

}  // namespace tavo
