// What a finished flash run means for the user: which of three states the drive is in and
// what to do next, in plain words, for both front ends and the run log.
#pragma once

#include <optional>
#include <string>

#include "drive/atapi.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/phase.h"

namespace tavo {

enum class TOutcomeClass {
  NothingWritten,     // nothing that writes reached the drive: it is as before
  WrittenUnverified,  // the drive was written to (patch region, banks or commit), not verified
  Verified,           // the read-back checksum matched
};

// The class of a finished run: verified, else written when any command that writes was
// sent (wroteDrive) or the run got as far as a phase that sends the firmware.
TOutcomeClass ClassifyRun(const std::optional<TPhase>& lastPhase, bool verified, bool wroteDrive);

// What the outcome words are made from.
struct TRunFacts {
  TOutcomeClass outcome = TOutcomeClass::NothingWritten;
  // The firmware itself went out (banks or the commit); false when at most the patch region
  // was rewritten.
  bool firmwareSent = false;
  TVerifyFailure verifyFailure = TVerifyFailure::None;
  // Where a run that had begun to send the firmware stopped; nothingAttempted: the drive
  // said it refused it before it stored anything.
  TRunStop stop = TRunStop::None;
  bool nothingAttempted = false;
  // The program the user runs, named where the advice is to run it again.
  std::string program = "TAVOFlash";
  // After a verified run: the revision the drive reports now (empty when it could not be
  // read), and the revision of the image it was given.
  std::string newRevision;
  std::string imageRevision;
};

// The facts of the engine's last run (the revisions are left for the caller).
TRunFacts FactsOfRun(const TFlashEngine& engine, const std::string& program);

// True when a verified run's drive reports the image's revision.
bool ReportsImageRevision(const TRunFacts& facts);

// One short paragraph: what happened, the drive's state, what to do.
std::string OutcomeText(const TRunFacts& facts);

// A few words for a status bar or a journal summary ("Failed: drive unchanged", ...).
std::string OutcomeSummary(const TRunFacts& facts);

// The outcome class as the run log's "result" and the terminal's JSON name it:
// "verified", "nothing_written" or "written_unverified". Never renamed.
const char* OutcomeClassName(TOutcomeClass outcome);

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
