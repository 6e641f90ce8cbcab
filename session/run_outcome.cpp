#include "session/run_outcome.h"

#include <cstdint>

namespace tavo {

namespace {

constexpr size_t kItemIdentityLength = 24;  // the item text's identity part before " "

}  // namespace

TOutcomeClass ClassifyRun(const std::optional<TPhase>& lastPhase, bool verified) {
  if (verified) return TOutcomeClass::Verified;
  if (lastPhase && PhaseWritesFirmware(lastPhase->kind)) return TOutcomeClass::WrittenUnverified;
  return TOutcomeClass::NothingWritten;
}

std::string OutcomeText(TOutcomeClass outcome, const std::string& newRevision) {
  switch (outcome) {
    case TOutcomeClass::NothingWritten:
      return "Nothing was written: the run stopped before any firmware was sent. The drive "
             "is unchanged and safe to use as before.";
    case TOutcomeClass::WrittenUnverified:
      return "The firmware was sent, but the drive did not verify it or was not ready in "
             "time. Do not power off or restart the computer. Wait a few minutes, then run "
             "TAVOFlash again.";
    case TOutcomeClass::Verified:
      return (newRevision.empty() ? std::string("The firmware was written and verified.")
                                  : "The firmware was written and verified: the drive now "
                                    "reports revision " +
                                        newRevision + ".") +
             " Restart the computer before using the drive.";
  }
  return {};
}

std::string OutcomeSummary(TOutcomeClass outcome) {
  switch (outcome) {
    case TOutcomeClass::NothingWritten:
      return "Failed: drive unchanged";
    case TOutcomeClass::WrittenUnverified:
      return "Failed: do not power off, run again";
    case TOutcomeClass::Verified:
      return "Verified: restart before use";
  }
  return {};
}

std::string ReadDriveRevision(TAtapi& atapi) {
  uint8_t reply[100] = {};  // Inquiry fills 50
  if (atapi.Inquiry(reply) != 1) return {};
  std::string revision;
  for (int i = 32; i < 36 && reply[i] != 0; ++i) {
    // Only printable bytes: the reply comes from the drive.
    revision += reply[i] >= 0x20 && reply[i] < 0x7F ? static_cast<char>(reply[i]) : '?';
  }
  while (!revision.empty() && revision.back() == ' ') revision.pop_back();
  return revision;
}

std::string ReplaceSelectedRevision(TFlashState& state, const std::string& revision) {
  if (state.selectedItem < 0 || state.selectedItem >= static_cast<int>(state.items.size())) {
    return {};
  }
  std::string& item = state.items[state.selectedItem];
  // The identity is 24 characters unless the drive's had a zero byte in it.
  size_t cut = item.size() > kItemIdentityLength && item[kItemIdentityLength] == ' '
                   ? kItemIdentityLength
                   : item.rfind(' ');
  if (cut == std::string::npos) return {};
  std::string old = item.substr(cut + 1);
  item = item.substr(0, cut) + " " + revision;
  return old;
}

}  // namespace tavo
