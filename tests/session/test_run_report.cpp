// What the user is told around a run: the phases the engine reports, the outcome class of
// each virtual drive's run, the revision read back, and why no drive matches.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "emulator/profiles.h"
#include "session/drive_report.h"
#include "session/line_explanations.h"
#include "session/run_outcome.h"
#include "tests/support/virtual_rig.h"

namespace tavo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct TProfileRun {
  explicit TProfileRun(const std::string& profile) {
    rig.Attach({*FindProfile(profile)});
    rig.StartUp();
    rig.engine->BitBtn2Click();
    facts = FactsOfRun(*rig.engine, "tavoflash-cli");
    outcome = facts.outcome;
  }
  // The phase texts with repeats of the same text dropped.
  std::vector<std::string> DistinctPhases() const {
    std::vector<std::string> out;
    for (const std::string& p : rig.ui.phases) {
      if (out.empty() || out.back() != p) out.push_back(p);
    }
    return out;
  }
  test::TVirtualRig rig;
  TRunFacts facts;
  TOutcomeClass outcome{};
};

TEST(RunPhases, AVerifiedRunNamesEveryPhaseInOrder) {
  TProfileRun run("default");
  ASSERT_EQ(run.outcome, TOutcomeClass::Verified);
  std::vector<std::string> expected = {"checking the drive", "refreshing the patch region"};
  for (int b = 1; b <= 8; ++b) expected.push_back("sending bank " + std::to_string(b) + " of 8");
  expected.push_back("committing");
  // The default drive is busy for three seconds after the commit.
  for (int s = 0; s <= 3; ++s) {
    expected.push_back("waiting for the drive to finish programming: " + std::to_string(s) +
                       " s, gives up at 120 s");
  }
  for (int b = 1; b <= 8; ++b) expected.push_back("verifying bank " + std::to_string(b) + " of 8");
  EXPECT_EQ(run.DistinctPhases(), expected);
}

TEST(RunPhases, AWaitCountsItsSecondsUpToTheLimit) {
  TProfileRun run("never-ready");
  EXPECT_EQ(run.outcome, TOutcomeClass::WrittenUnverified);
  std::vector<std::string> waits;
  for (const std::string& p : run.rig.ui.phases) {
    if (p.rfind("waiting", 0) == 0) waits.push_back(p);
  }
  // One report a second, each with the time so far.
  ASSERT_GE(waits.size(), 120u);
  EXPECT_EQ(waits[34], "waiting for the drive to finish programming: 34 s, gives up at 120 s");
  EXPECT_THAT(run.rig.ui.logs, ::testing::Contains("Err:Flash error,time out 120 Sec"));
}

TEST(RunOutcome, EachProfileEndsInItsClassWithItsCause) {
  struct TCase {
    std::string profile;
    TOutcomeClass outcome;
    std::string words;  // how the outcome paragraph begins
  };
  const std::vector<TCase> cases = {
      {"default", TOutcomeClass::Verified, "The firmware was written and verified"},
      {"normal-mode", TOutcomeClass::Verified, "The firmware was written and verified"},
      {"commit-illegal", TOutcomeClass::Verified, "The firmware was written and verified"},
      {"no-medium", TOutcomeClass::Verified, "The firmware was written and verified"},
      // Refused by the checks: nothing reached the drive.
      {"other-family", TOutcomeClass::NothingWritten, "Nothing was written"},
      // Stopped at the marker check, foreseen before the patch region was rewritten.
      {"no-marker", TOutcomeClass::NothingWritten, "Nothing was written"},
      // Every writing command refused as an illegal request: by the SCSI rules, unchanged.
      {"download-illegal", TOutcomeClass::NothingWritten,
       "Nothing was written: the drive refused every command that writes"},
      // The patch region was taken, then every bank refused.
      {"unsupported", TOutcomeClass::WrittenUnverified,
       "The drive was changed: its patch region was rewritten, then the drive refused"},
      // Failed once banks were on their way, each for its own reason.
      {"bank4-refused", TOutcomeClass::WrittenUnverified,
       "Part of the firmware was sent, then the drive refused a bank and reports a "
       "programming error"},
      {"commit-unit-attention", TOutcomeClass::WrittenUnverified,
       "The drive received the firmware but refused to program it"},
      {"never-ready", TOutcomeClass::WrittenUnverified,
       "The firmware was sent and committed, but the drive was not ready again in time"},
      {"bad-verify", TOutcomeClass::WrittenUnverified,
       "The firmware was programmed, but what the drive reads back does not match"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.profile);
    const TProfileRun run(c.profile);
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_EQ(OutcomeText(run.facts).rfind(c.words, 0), 0u) << OutcomeText(run.facts);
  }
}

// Every failure line a run on any virtual drive shows has its plain explanation, and the
// lines of a run that goes well have none.
TEST(LineExplanations, EveryFailureLineOfEveryProfileIsExplained) {
  const auto isFailure = [](const std::string& line) {
    return line.rfind("Err", 0) == 0 || line.rfind("Status:", 0) == 0 ||
           line.rfind("Time Out", 0) == 0 || line.find("isn't support") != std::string::npos;
  };
  for (const std::string& profile : ProfileNames()) {
    SCOPED_TRACE(profile);
    const TProfileRun run(profile);
    for (const std::string& line : run.rig.ui.logs) {
      EXPECT_EQ(isFailure(line), !ExplainLine(line, "tavoflash-cli").empty()) << line;
    }
  }
  // The lines that come from elsewhere than a run: the search for drives, the transport.
  for (const char* line : {"Can't find the device to upgrade !!", "WNASPI32.DLL not found",
                           "Err:File Error !!", "Err:Memory allocation",
                           "Access to /dev/sg3 was refused.", "Format message failed.  Error: 22",
                           "Err: Cannot update this device use this update file!!",
                           "Err:The firmware is not support this device!!(11)"}) {
    EXPECT_FALSE(ExplainLine(line, "tavoflash-cli").empty()) << line;
  }
  for (const std::string& line : ExplainedLineExamples()) {
    EXPECT_FALSE(ExplainLine(line, "tavoflash").empty()) << line;
  }
  // Sense keys are named; the advice names the program the user runs.
  EXPECT_THAT(ExplainLine("Status:4;SenseCode:6 : 29 : 0;", "tavoflash-cli"),
              HasSubstr("UNIT ATTENTION: POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"));
  EXPECT_THAT(ExplainLine("Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;", "x"),
              HasSubstr("NOT READY: LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"));
  EXPECT_THAT(ExplainLine("Err:Verify NG !!", "tavoflash-cli"), HasSubstr("run tavoflash-cli"));
  EXPECT_THAT(ExplainLine("WNASPI32.DLL not found", "tavoflash"), HasSubstr("modprobe sg"));
}

// A run the marker check will stop is stopped before its first writing command, at the
// line the check predicts; a drive whose marker is found goes on to the rewrite and the
// search in the drive itself.
TEST(RunOutcome, ARunTheMarkerCheckWillStopWritesNothing) {
  {
    TProfileRun stopped("no-marker");
    EXPECT_EQ(stopped.rig.ui.logs.back(), "This firmware isn't support !!(10)");
    EXPECT_TRUE(stopped.rig.Commands(TCommandKind::WritePatch).empty());
    EXPECT_EQ(stopped.facts.outcome, TOutcomeClass::NothingWritten);
  }
  TProfileRun passed("default");
  EXPECT_EQ(passed.rig.Commands(TCommandKind::WritePatch).size(), 3u);
  EXPECT_EQ(passed.rig.Commands(TCommandKind::ReadFirmware).size(), 2u);
}

TEST(RunOutcome, TextsSayWhatToDo) {
  TRunFacts facts;
  EXPECT_THAT(OutcomeText(facts), HasSubstr("safe to use"));
  facts.outcome = TOutcomeClass::WrittenUnverified;
  facts.firmwareSent = true;
  EXPECT_THAT(OutcomeText(facts), HasSubstr("Do not power off"));
  facts.verifyFailure = TVerifyFailure::BlankReadBack;
  EXPECT_THAT(OutcomeText(facts), HasSubstr("did not store"));

  // "Now reports" only when the drive reports the image's revision.
  facts =
      TRunFacts{.outcome = TOutcomeClass::Verified, .newRevision = "1.08", .imageRevision = "1.08"};
  EXPECT_THAT(OutcomeText(facts), HasSubstr("now reports revision 1.08. Restart"));
  EXPECT_EQ(OutcomeSummary(facts), "Verified: now 1.08; restart");
  facts.newRevision = "1.05";
  EXPECT_THAT(OutcomeText(facts), HasSubstr("still reports revision 1.05, not the image's 1.08"));
  EXPECT_THAT(OutcomeText(facts), HasSubstr("tavoflash-cli --check"));
  EXPECT_THAT(OutcomeSummary(facts), ::testing::Not(HasSubstr("1.05")));
  // A run that never started (no identity) wrote nothing.
  EXPECT_EQ(ClassifyRun(false, {}), TOutcomeClass::NothingWritten);
  EXPECT_EQ(ImageRevision("TAVO    QRD-1040C       1.08"), "1.08");
}

TEST(RunOutcome, TheNewRevisionIsReadBackAndReplacesTheListedOne) {
  TProfileRun run("default");
  ASSERT_EQ(run.outcome, TOutcomeClass::Verified);
  const std::string revision = ReadDriveRevision(*run.rig.atapi);
  EXPECT_EQ(revision, "1.08");
  const std::string before = run.rig.state.SelectedItemText();
  EXPECT_EQ(ReplaceSelectedRevision(run.rig.state, revision), "1.05");
  EXPECT_EQ(run.rig.state.SelectedItemText(), before.substr(0, 24) + " 1.08");
}

TEST(NoDrive, SaysWhetherNoDriveOrOnlyOtherModelsWereFound) {
  const std::string identity = "TAVO    QRD-1040C       ";
  test::TVirtualRig rig;
  rig.Attach({});
  EXPECT_THAT(NoDriveReasons(*rig.atapi, identity),
              ElementsAre("No optical drive was found on this computer."));

  // A refused open is named: the drive may be there.
  rig.Attach({});
  rig.bus->AddDrive(*FindProfile("default"));
  rig.bus->InjectOpenError(0, EACCES);
  rig.Reopen();
  ASSERT_EQ(rig.atapi->DriveCount(), 0);
  EXPECT_THAT(NoDriveReasons(*rig.atapi, identity)[0], HasSubstr("access to a drive was refused"));

  rig.Attach({*FindProfile("legacy-unlisted")});
  EXPECT_THAT(NoDriveReasons(*rig.atapi, identity),
              ElementsAre("None of the optical drives found is a TAVO    QRD-1040C:",
                          "  emulated:sr0: vendor TAVO, product QRD-1370C, revision 1.05"));
}

TEST(NoDrive, ListedItemsKnowTheirDeviceNameOnBothTransports) {
  for (bool aspi : {false, true}) {
    test::TVirtualRig rig;
    rig.Attach({*FindProfile("default"), *FindProfile("default")}, aspi);
    rig.StartUp();
    const std::string second = "emulated:sr1";
    EXPECT_EQ(ItemDevice(*rig.atapi, rig.state, 1), second);
    EXPECT_EQ(ItemAtDevice(*rig.atapi, rig.state, second), 1);
    EXPECT_EQ(ItemAtDevice(*rig.atapi, rig.state, "/dev/sr9"), -1);
    EXPECT_EQ(ItemDevice(*rig.atapi, rig.state, 5), "");
  }
}

}  // namespace
}  // namespace tavo
