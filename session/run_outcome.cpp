#include "session/run_outcome.h"

#include <cstdint>
#include <string_view>

#include "drive/printable_text.h"
#include "session/revision_policy.h"

namespace tavo {

namespace {

constexpr size_t kItemIdentityLength = 24;  // the item text's identity part before " "
// What every text of a drive that may be mid-update says.
constexpr const char* kKeepPowerOn = "Do not power off or restart the computer.";

// What a run that may have written to the drive and did not verify left behind, by where
// it stopped. Never advises a restart: the drive may be mid-update.
std::string WrittenText(const TRunFacts& facts) {
  const std::string keepOn = std::string(" ") + kKeepPowerOn + " ";
  const std::string again = "run " + facts.program + " again";
  const std::string sameLine = "Run " + facts.program +
                               " again; if it stops at the same line, this image is not for "
                               "this drive.";
  if (!facts.firmwareSent) {
    if (facts.stop == TRunStop::DownloadRefused) {
      return "The drive was changed: its patch region was rewritten, then the drive refused "
             "the firmware itself and stored none of it." +
             keepOn + sameLine;
    }
    return "The drive was changed: its patch region was rewritten before the run stopped, "
           "but the firmware itself was not sent." +
           keepOn + sameLine;
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
      if (facts.statusUnanswered) {
        return "Part of the firmware was sent, then the drive refused a bank and did not "
               "answer when asked what it had done." +
               keepOn + "Wait a minute, then " + again + ".";
      }
      return "Part of the firmware was sent, then the drive refused a bank and reports a "
             "programming error." +
             keepOn + "Wait a minute, then " + again + ".";
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

std::string NothingWrittenText(const TRunFacts& facts) {
  const std::string unchanged = " The drive is unchanged and safe to use as before.";
  if (facts.nothingAttempted) {
    return "Nothing was written: the drive refused the firmware as an illegal request and "
           "says it attempted nothing. This image is most likely not for this drive." +
           unchanged;
  }
  if (facts.writesRefused) {
    return "Nothing was written: the drive refused every command that writes as an illegal "
           "request, which by the SCSI rules changes nothing. This image is most likely not "
           "for this drive." +
           unchanged;
  }
  return "Nothing was written: the run stopped before any firmware was sent." + unchanged;
}

}  // namespace

TOutcomeClass ClassifyRun(bool verified, const TWriteFacts& writes) {
  if (verified) return TOutcomeClass::Verified;
  return writes.MayHaveChanged() ? TOutcomeClass::WrittenUnverified : TOutcomeClass::NothingWritten;
}

TRunFacts FactsOfRun(const TFlashEngine& engine, const std::string& program) {
  if (engine.LastRunBackupRefused()) {
    TRunFacts refused = RefusedFacts(
        "its firmware was read but could not be backed up before the first write (the lines "
        "above say why).",
        program);
    refused.readOnly = true;
    return refused;
  }
  TRunFacts facts;
  facts.program = program;
  const TWriteFacts& writes = engine.LastWrites();
  facts.outcome = ClassifyRun(engine.LastRunVerified(), writes);
  facts.firmwareSent = writes.firmware.MayHaveChanged();
  facts.writesRefused = writes.AnySent() && !writes.MayHaveChanged();
  facts.stop = engine.LastStop();
  facts.nothingAttempted = engine.LastRunNothingAttempted();
  facts.statusUnanswered = engine.LastFlashStatusUnanswered();
  facts.verifyFailure = engine.LastVerifyFailure();
  return facts;
}

TRunFacts RefusedFacts(const std::string& why, const std::string& program) {
  TRunFacts facts;
  facts.outcome = TOutcomeClass::Refused;
  facts.program = program;
  facts.why = why;
  return facts;
}

TRunFacts CurrentFacts(const std::string& device, const std::string& revision,
                       const std::string& imageRevision) {
  TRunFacts facts;
  facts.outcome = CompareRevisions(revision, imageRevision) == TRevisionChange::Older
                      ? TOutcomeClass::Newer
                      : TOutcomeClass::Current;
  facts.device = device;
  facts.newRevision = revision;
  facts.imageRevision = imageRevision;
  return facts;
}

bool ReportsImageRevision(const TRunFacts& facts) {
  return facts.outcome == TOutcomeClass::Verified && !facts.newRevision.empty() &&
         facts.newRevision == facts.imageRevision;
}

std::string OutcomeText(const TRunFacts& facts) {
  switch (facts.outcome) {
    case TOutcomeClass::NothingWritten:
      return NothingWrittenText(facts);
    case TOutcomeClass::WrittenUnverified:
      return WrittenText(facts);
    case TOutcomeClass::Verified:
      if (ReportsImageRevision(facts)) {
        return "The firmware was written and verified: the drive now reports revision " +
               facts.newRevision + ". Restart the computer before using the drive.";
      }
      if (facts.newRevision.empty()) {
        return "The firmware was written and verified, but the drive did not say its "
               "revision. Restart the computer, then " +
               facts.checkAdvice + " to see what it reports.";
      }
      return "The firmware was written and verified, but the drive still reports revision " +
             facts.newRevision + ", not the image's " + facts.imageRevision +
             ". Restart the computer, then " + facts.checkAdvice + " to see what it reports.";
    case TOutcomeClass::Refused:
      return std::string(facts.readOnly ? "Nothing was written to the drive: "
                                        : "Nothing was sent to the drive: ") +
             facts.why + " The drive is unchanged.";
    case TOutcomeClass::Current:
      return "Nothing to do: " + (facts.device.empty() ? std::string("the drive") : facts.device) +
             " is already at " + facts.newRevision +
             ", the image's revision. Nothing that writes was sent to it.";
    case TOutcomeClass::Newer:
      return "Nothing to do: " + (facts.device.empty() ? std::string("the drive") : facts.device) +
             " is at " + facts.newRevision + ", newer than the image's " + facts.imageRevision +
             ". Nothing that writes was sent to it.";
  }
  return {};
}

std::string RemainingDrivesLeftText(const std::string& node) {
  return node + " was written but not verified: the remaining drives were left alone. " +
         kKeepPowerOn;
}

std::string OutcomeSummary(const TRunFacts& facts) {
  switch (facts.outcome) {
    case TOutcomeClass::NothingWritten:
      if (facts.writesRefused) return "Failed: refused by the drive, unchanged";
      return "Failed: drive unchanged";
    case TOutcomeClass::WrittenUnverified:
      if (!facts.firmwareSent) return "Failed: drive changed, do not power off";
      return "Failed: do not power off, run again";
    case TOutcomeClass::Verified:
      if (ReportsImageRevision(facts)) return "Verified: now " + facts.newRevision + "; restart";
      return "Verified: restart, then check";
    case TOutcomeClass::Refused:
      return "Refused: nothing sent";
    case TOutcomeClass::Current:
      return "Nothing to do: already at " + facts.newRevision;
    case TOutcomeClass::Newer:
      return "Nothing to do: at " + facts.newRevision + ", newer than " + facts.imageRevision;
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
    case TOutcomeClass::Refused:
      return "refused";
    case TOutcomeClass::Current:
      return "current";
    case TOutcomeClass::Newer:
      return "newer";
  }
  return "written_unverified";
}

int OutcomeExitStatus(TOutcomeClass outcome) {
  switch (outcome) {
    case TOutcomeClass::Verified:
    case TOutcomeClass::Current:
    case TOutcomeClass::Newer:
      return kExitVerified;
    case TOutcomeClass::NothingWritten:
      return kExitFailed;
    case TOutcomeClass::WrittenUnverified:
      return kExitWrittenUnverified;
    case TOutcomeClass::Refused:
      return kExitRefused;
  }
  return kExitWrittenUnverified;
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
