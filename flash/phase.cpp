#include "flash/phase.h"

namespace tavo {

std::string PhaseText(const TPhase& phase) {
  const auto ofBanks = [&phase] {
    return std::to_string(phase.bank) + " of " + std::to_string(phase.banks);
  };
  switch (phase.kind) {
    case TPhaseKind::CheckingDrive:
      return "checking the drive";
    case TPhaseKind::BackingUp:
      return "backing up bank " + ofBanks() + ", read " + std::to_string(phase.pass) + " of 2";
    case TPhaseKind::RefreshingPatch:
      return "refreshing the patch region";
    case TPhaseKind::SendingBank:
      return "sending bank " + ofBanks();
    case TPhaseKind::Committing:
      return "committing";
    case TPhaseKind::WaitingForDrive:
      return "waiting for the drive to finish programming: " + std::to_string(phase.elapsedSec) +
             " s, gives up at " + std::to_string(phase.limitSec) + " s";
    case TPhaseKind::Verifying:
      return "verifying bank " + ofBanks();
  }
  return {};
}

}  // namespace tavo
