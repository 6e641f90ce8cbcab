#include "session/run_outcome.h"

#include <cstdint>
#include <string_view>

#include "drive/printable_text.h"

namespace tavo {

namespace {

constexpr size_t kItemIdentityLength = 24;  // the item text's identity part before " "

// What a run that wrote to the drive and did not verify left behind, by where it stopped.
std::string WrittenText(const TRunFacts& facts) {
  const std::string keepOn = " Do not power off or restart the computer. ";
  const std::string again = "run " + facts.program + " again";
  if (!facts.firmwareSent) {
    return "The drive was changed: its patch region was rewritten before the run stopped, "
           "but the firmware itself was not sent." +
           keepOn + "Run " + facts.program +
           " again; if it stops at the same line, this image is not for this drive.";
  }
  switch (facts.verifyFailure) {
    case TVerifyFailure::BlankReadBack:
      return "The firmware was sent, but the drive read back no firmware (every byte the "
             "same): it did not store what it was sent." +
             keepOn + "Wait a few minutes, then " + again + ".";
    case TVerifyFailure::Mismatch:
      return "The firmware was programmed, but what the drive reads back does not match the "
             "image." +
             keepOn + "Run " + facts.program + " again to write it once more.";
    case TVerifyFailure::ReadFailed:
      return "The firmware was programmed, but contact with the drive was lost while it was "
             "read back." +
             keepOn + "Check the drive's connection, wait a minute, then " + again + ".";
    case TVerifyFailure::None:
      break;
  }
  switch (facts.stop) {
    case TRunStop::DownloadRefused:
      if (facts.nothingAttempted) {
        return "The drive refused the firmware before it stored any of it, and says it "
               "attempted nothing: it should still run its old firmware. This image is most "
               "likely not for this drive. Restart the computer, then run tavoflash-cli "
               "--check before you use the drive.";
      }
      return "The drive refused part of the firmware and reports a programming error." + keepOn +
             "Wait a minute, then " + again + ".";
    case TRunStop::CommitRefused:
      return "The drive received the firmware but refused to program it." + keepOn +
             "Wait a minute, then " + again + ".";
    case TRunStop::NotReady:
      return "The firmware was sent and committed, but the drive was not ready again in "
             "time." +
             keepOn + "Wait a few minutes, then " + again + ".";
    case TRunStop::ContactLost:
      return "Contact with the drive was lost while the firmware was being sent." + keepOn +
             "Check the drive's connection, wait a minute, then " + again + ".";
    case TRunStop::None:
      break;
  }
  return "The firmware was sent, but the drive did not verify it or was not ready in time." +
         keepOn + "Wait a few minutes, then " + again + ".";
}

}  // namespace

TOutcomeClass ClassifyRun(const std::optional<TPhase>& lastPhase, bool verified, bool wroteDrive) {
  if (verified) return TOutcomeClass::Verified;
  if (wroteDrive || (lastPhase && PhaseWritesFirmware(lastPhase->kind))) {
    return TOutcomeClass::WrittenUnverified;
  }
  return TOutcomeClass::NothingWritten;
}

TRunFacts FactsOfRun(const TFlashEngine& engine, const std::string& program) {
  TRunFacts facts;
  facts.program = program;
  facts.stop = engine.LastStop();
  facts.nothingAttempted = engine.LastRunNothingAttempted();
  facts.outcome =
      ClassifyRun(engine.LastPhase(), engine.LastRunVerified(), engine.LastRunWroteDrive());
  facts.firmwareSent = engine.LastPhase() && PhaseWritesFirmware(engine.LastPhase()->kind);
  facts.verifyFailure = engine.LastVerifyFailure();
  return facts;
}

bool ReportsImageRevision(const TRunFacts& facts) {
  return facts.outcome == TOutcomeClass::Verified && !facts.newRevision.empty() &&
         facts.newRevision == facts.imageRevision;
}

std::string OutcomeText(const TRunFacts& facts) {
  switch (facts.outcome) {
    case TOutcomeClass::NothingWritten:
      return "Nothing was written: the run stopped before any firmware was sent. The drive "
             "is unchanged and safe to use as before.";
    case TOutcomeClass::WrittenUnverified:
      return WrittenText(facts);
    case TOutcomeClass::Verified:
      if (ReportsImageRevision(facts)) {
        return "The firmware was written and verified: the drive now reports revision " +
               facts.newRevision + ". Restart the computer before using the drive.";
      }
      if (facts.newRevision.empty()) {
        return "The firmware was written and verified, but the drive did not say its "
               "revision. Restart the computer, then run tavoflash-cli --check to see what "
               "it reports.";
      }
      return "The firmware was written and verified, but the drive still reports revision " +
             facts.newRevision + ", not the image's " + facts.imageRevision +
             ". Restart the computer, then run tavoflash-cli --check to see what it reports.";
  }
  return {};
}

std::string OutcomeSummary(const TRunFacts& facts) {
  switch (facts.outcome) {
    case TOutcomeClass::NothingWritten:
      return "Failed: drive unchanged";
    case TOutcomeClass::WrittenUnverified:
      if (!facts.firmwareSent) return "Failed: drive changed, do not power off";
      if (facts.nothingAttempted) return "Failed: refused by the drive";
      return "Failed: do not power off, run again";
    case TOutcomeClass::Verified:
      if (ReportsImageRevision(facts)) return "Verified: now " + facts.newRevision + "; restart";
      return "Verified: restart, then check";
  }
  return {};
}

const char* OutcomeClassName(TOutcomeClass outcome) {
  switch (outcome) {
    case TOutcomeClass::NothingWritten:
      return "nothing_written";
    case TOutcomeClass::WrittenUnverified:
      return "written_unverified";
    case TOutcomeClass::Verified:
      return "verified";
  }
  return "nothing_written";
}

std::string ImageRevision(const std::string& edit1) {
  if (edit1.size() <= kItemIdentityLength) return {};
  std::string revision = edit1.substr(kItemIdentityLength);
  while (!revision.empty() && (revision.front() == ' ')) revision.erase(0, 1);
  while (!revision.empty() && (revision.back() == ' ')) revision.pop_back();
  return revision;
}

std::string ReadDriveRevision(TAtapi& atapi) {
  uint8_t reply[100] = {};  // Inquiry fills 50
  if (atapi.Inquiry(reply) != 1) return {};
  size_t length = 0;
  while (length < 4 && reply[32 + length] != 0) ++length;
  // Made printable: the reply comes from the drive.
  std::string revision =
      PrintableText(std::string_view(reinterpret_cast<char*>(reply + 32), length));
  while (!revision.empty() && revision.back() == ' ') revision.pop_back();
  return revision;
}

std::string ReplaceSelectedRevision(TFlashState& state, const std::string& revision) {
  if (state.selectedItem < 0 || state.selectedItem >= static_cast<int>(state.items.size())) {
    return {};
  }
  return ReplaceItemRevision(state.items[state.selectedItem], revision);
}

namespace {

// Where the identity of a list item ends and its revision begins (the blank between them).
// The identity is 24 characters unless the drive's had a zero byte in it.
size_t RevisionCut(const std::string& item) {
  return item.size() > kItemIdentityLength && item[kItemIdentityLength] == ' ' ? kItemIdentityLength
                                                                               : item.rfind(' ');
}

}  // namespace

std::string ItemRevision(const std::string& item) {
  const size_t cut = RevisionCut(item);
  return cut == std::string::npos ? std::string() : item.substr(cut + 1);
}

std::string ReplaceItemRevision(std::string& item, const std::string& revision) {
  const size_t cut = RevisionCut(item);
  if (cut == std::string::npos) return {};
  std::string old = item.substr(cut + 1);
  item = item.substr(0, cut) + " " + revision;
  return old;
}

}  // namespace tavo
