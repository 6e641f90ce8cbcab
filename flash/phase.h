// Where a flash run stands, as the engine reports it to the front ends through
// TUserPort::SetPhase, and the plain-words text of each phase.
#pragma once

#include <optional>
#include <string>

namespace tavo {

enum class TPhaseKind {
  CheckingDrive,    // identity, family and model checks; nothing written yet
  BackingUp,        // reading bank `bank` of `banks` for the backup, read `pass` of 2
  RefreshingPatch,  // comparing and, when it differs, rewriting the patch region
  SendingBank,      // bank `bank` of `banks` goes to the drive
  Committing,       // the drive is told to program what it received
  WaitingForDrive,  // polling until the drive is ready again; `elapsedSec` of `limitSec`
  Verifying,        // reading bank `bank` of `banks` back for the checksum
};

struct TPhase {
  TPhaseKind kind = TPhaseKind::CheckingDrive;
  int bank = 0;  // 1-based, for SendingBank and Verifying
  int banks = 0;
  int elapsedSec = 0;  // WaitingForDrive only
  int limitSec = 0;    // WaitingForDrive only
  int pass = 0;        // BackingUp only: 1 or 2
};

// "checking the drive", "sending bank 3 of 8", "waiting for the drive to finish
// programming: 34 s, gives up at 120 s", ...
std::string PhaseText(const TPhase& phase);

// For reports that cannot show every second of a wait (a line per report): true when now
// is another phase or bank than last, or 10 more seconds of a wait; always true without a
// last report.
inline bool WorthReporting(const std::optional<TPhase>& last, const TPhase& now) {
  if (!last || last->kind != now.kind || last->bank != now.bank || last->pass != now.pass) {
    return true;
  }
  return now.kind == TPhaseKind::WaitingForDrive && now.elapsedSec - last->elapsedSec >= 10;
}

}  // namespace tavo
