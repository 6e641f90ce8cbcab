// What a finished flash run means for the user: which of three states the drive is in and
// what to do next, in plain words, for both front ends and the run log.
#pragma once

#include <optional>
#include <string>

#include "drive/atapi.h"
#include "flash/flash_state.h"
#include "flash/phase.h"

namespace tavo {

enum class TOutcomeClass {
  NothingWritten,     // the run stopped before the firmware was sent: the drive is as before
  WrittenUnverified,  // firmware was sent, but the run failed before it verified
  Verified,           // the read-back checksum matched
};

// The class of a finished run from the last phase it reached and whether it verified.
TOutcomeClass ClassifyRun(const std::optional<TPhase>& lastPhase, bool verified);

// One short paragraph: what happened, the drive's state, what to do. newRevision is the
// revision the drive reports after a verified run (empty when it could not be read).
std::string OutcomeText(TOutcomeClass outcome, const std::string& newRevision);

// A few words for a status bar or a journal summary ("failed, drive unchanged", ...).
std::string OutcomeSummary(TOutcomeClass outcome);

// The revision the current drive reports now (INQUIRY bytes 32..35, trailing blanks and
// zero bytes dropped); empty when the INQUIRY failed.
std::string ReadDriveRevision(TAtapi& atapi);

// Replaces the revision at the end of the selected item's text (the drive list shows
// "<identity> <revision>") with revision, and returns the revision it replaced.
std::string ReplaceSelectedRevision(TFlashState& state, const std::string& revision);

}  // namespace tavo
