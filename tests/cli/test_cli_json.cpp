// tavoflash-cli's flow after the drive session, on virtual drives and a virtual clock: the
// --json events of every profile on both transports checked line by line against the
// documented schema and against the text mode's outcome and exit status; --if-needed,
// --drive all, and the run history read back from the logs those runs wrote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_fleet.h"
#include "cli/cli_port.h"
#include "cli/json_events.h"
#include "cli/json_port.h"
#include "session/run_history.h"
#include "session/version.h"
#include "tests/cli/json_schema_check.h"
#include "tests/support/text_files.h"
#include "tests/support/virtual_rig.h"

namespace tavo {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

const json& Schema() {
  static const json schema = json::parse(test::ReadFile(TAVO_SOURCE_DIR "/docs/json.schema.json"));
  return schema;
}

// Every line parses and conforms; the objects, in order.
std::vector<json> CheckedEvents(const std::string& out) {
  std::vector<json> events;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    SCOPED_TRACE(line);
    const json event = json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << "not JSON";
    EXPECT_EQ(test::SchemaViolation(event, Schema(), Schema()), "");
    events.push_back(event);
  }
  return events;
}

std::vector<json> OfKind(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> out;
  for (const json& e : events) {
    if (e.value("event", "") == kind) out.push_back(e);
  }
  return out;
}

// Run logs and drive locks of their own, and no system bus.
class CliFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/tavo-cli-flow-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    setenv("XDG_STATE_HOME", dir_.c_str(), 1);
    setenv("TAVOFLASH_LOCK_DIR", dir_.c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tavo-test-bus", 1);
  }
  void TearDown() override {
    unsetenv("XDG_STATE_HOME");
    unsetenv("TAVOFLASH_LOCK_DIR");
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::filesystem::remove_all(dir_);
  }

  struct TResult {
    int code = -1;
    std::string out;  // standard output: the events, or the text mode's log lines
    std::string err;  // the text mode's words
  };

  // The program's flow over fresh virtual drives, as --json or as text.
  TResult Run(const std::vector<std::string>& profiles, TCliOptions options, bool json,
              bool aspi = false) {
    std::vector<TDriveProfile> drives;
    for (const std::string& p : profiles) drives.push_back(*FindProfile(p));
    rig_.Attach(drives, aspi);
    return RunAttached(options, json);
  }

  // The same over a replay of a kept recording.
  TResult Replay(const std::string& recording, bool json) {
    rig_.AttachReplay(std::string(TAVO_SOURCE_DIR "/tests/recordings/") + recording);
    return RunAttached({}, json);
  }

  TResult RunAttached(TCliOptions options, bool json) {
    rig_.ClearHistories();
    rig_.state = TFlashState{};
    options.yes = true;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::FILE* human = std::tmpfile();
    TRunRecord record("tavoflash-cli", rig_.options, "");
    record.Log().SetJournal(false);
    TJsonEvents events(out);
    TJsonPort jsonPort(events, {.rebootAnswer = false,
                                .restarter = nullptr,
                                .logTap = [&](const std::string& t) { record.Line(t); },
                                .human = nullptr});
    TCliPort textPort({.rebootAnswer = false,
                       .restarter = nullptr,
                       .showProgress = false,
                       .phaseLines = false,
                       .logTap = [&](const std::string& t) { record.Line(t); }},
                      out, err);
    TUserPort& port = json ? static_cast<TUserPort&>(jsonPort) : textPort;
    TJsonReport jsonReport(events, ImageIdentity(EmbeddedImage()), nullptr);
    TTextReport textReport(err);
    TFlashEngine engine(rig_.state, *rig_.atapi, EmbeddedImage(), port, rig_.clock);
    TCliStartupHooks hooks(options, json ? human : out, json ? human : err);
    hooks.SetDrives(*rig_.atapi);
    if (json) events.Start(EmbeddedImage(), rig_.options);
    TCliFlashParts parts{.options = options,
                         .image = EmbeddedImage(),
                         .engine = engine,
                         .state = rig_.state,
                         .atapi = *rig_.atapi,
                         .ui = port,
                         .hooks = hooks,
                         .record = record,
                         .report = json ? static_cast<TCliReport&>(jsonReport) : textReport,
                         .driveChanged = [&](const std::string& n) { jsonPort.SetNode(n); },
                         .beforeRun = {},
                         .signalNotice = false};
    TResult result;
    result.code = RunCliFlash(parts);
    result.out = test::ReadStream(out);
    result.err = test::ReadStream(err);
    for (std::FILE* f : {out, err, human}) std::fclose(f);
    return result;
  }

  std::vector<TCommandKind> WritingCommands(int drive) const {
    std::vector<TCommandKind> writes;
    for (const TCommandKind k : rig_.Kinds(drive)) {
      if (k == TCommandKind::WritePatch || k == TCommandKind::FlashDownload ||
          k == TCommandKind::FlashCommit || k == TCommandKind::FlashRetry ||
          k == TCommandKind::StartStopUnit || k == TCommandKind::StopPlayScan) {
        writes.push_back(k);
      }
    }
    return writes;
  }

  std::string dir_;
  test::TVirtualRig rig_;
};

TEST(JsonSchema, TheDocumentedExamplesConformAndAChangedFieldDoesNot) {
  EXPECT_EQ(test::UnknownSchemaKeyword(Schema()), "");
  // Every example object of docs/json.md: one per event.
  std::vector<json> examples;
  std::istringstream doc(test::ReadFile(TAVO_SOURCE_DIR "/docs/json.md"));
  for (std::string line; std::getline(doc, line);) {
    if (line.rfind("{\"format_version\"", 0) == 0) examples.push_back(json::parse(line));
  }
  std::vector<std::string> kinds;
  for (const json& e : examples) {
    SCOPED_TRACE(e.dump());
    EXPECT_EQ(test::SchemaViolation(e, Schema(), Schema()), "");
    kinds.push_back(e["event"]);
  }
  for (const char* kind : {"start", "drive", "phase", "line", "outcome", "error", "run"}) {
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end()) << kind;
  }
  // What users of such output complain about is caught: a renamed or missing key, a
  // wrong type, an unknown class, another format version.
  const auto outcome = std::find_if(examples.begin(), examples.end(),
                                    [](const json& e) { return e["event"] == "outcome"; });
  ASSERT_NE(outcome, examples.end());
  json renamed = *outcome;
  renamed["is_changed"] = renamed["changed"];
  renamed.erase("changed");
  json wrongType = *outcome;
  wrongType["exit_status"] = "0";
  json unknownClass = *outcome;
  unknownClass["class"] = "ok";
  json version2 = *outcome;
  version2["format_version"] = 2;
  for (const json& bad : {renamed, wrongType, unknownClass, version2}) {
    EXPECT_NE(test::SchemaViolation(bad, Schema(), Schema()), "") << bad.dump();
  }
}

// One class per run, named alike everywhere: the outcome event, the exit status, the text
// mode's words, the run log's result and --history; and no outcome that leaves a drive
// written and not verified advises a restart. Every profile on both transports, and the
// kept recordings of drives that refused a writing command.
TEST_F(CliFlowTest, EveryProfileOnBothTransportsGivesConformingEventsThatAgreeWithText) {
  // How the words of each class begin or what they must say.
  const std::map<std::string, std::string> classWords = {
      {"verified", "The firmware was written and verified"},
      {"current", "Nothing to do"},
      {"nothing_written", "Nothing was written"},
      {"written_unverified", "Do not power off or restart the computer"},
      {"refused", "Nothing was sent to the drive"},
  };
  const auto agree = [&](const TResult& json, const TResult& text, const std::string& oldRevision) {
    const std::vector<nlohmann::json> events = CheckedEvents(json.out);
    EXPECT_EQ(json.code, text.code);
    const auto outcomes = OfKind(events, "outcome");
    ASSERT_EQ(outcomes.size(), 1u);
    const nlohmann::json& o = outcomes[0];
    const std::string cls = o["class"];
    const std::string words = o["text"];
    EXPECT_EQ(o["exit_status"], json.code);
    EXPECT_THAT(text.err, HasSubstr(words));
    EXPECT_THAT(words, HasSubstr(classWords.at(cls)));
    if (json.code == 3) {
      EXPECT_THAT(text.err, ::testing::Not(HasSubstr("Restart the computer")));
      EXPECT_THAT(o["summary"].get<std::string>(), ::testing::Not(HasSubstr("restart")));
    }
    EXPECT_EQ(o["changed"], cls == "verified" || cls == "written_unverified");
    EXPECT_EQ(o["node"], "emulated:sr0");
    EXPECT_EQ(o["old_revision"], oldRevision);
    if (cls == "verified") {
      EXPECT_EQ(o["new_revision"], "1.08");
    }
    // The lines are the text mode's standard output, verbatim; failure lines explained.
    for (const nlohmann::json& line : OfKind(events, "line")) {
      EXPECT_THAT(text.out, HasSubstr(line["text"].get<std::string>() + "\n"));
      const bool failure = line["text"].get<std::string>().rfind("Err", 0) == 0;
      if (failure) {
        EXPECT_TRUE(line["explanation"].is_string()) << line.dump();
      }
    }
    // The run logs of both runs (none for a drive already current) and --history.
    const std::vector<TPastRun> history = ReadRunHistory(dir_ + "/tavoflash");
    // No run log for a drive already current, nor for a downgrade refused before the run.
    if (cls == "current" || (cls == "refused" && oldRevision == "1.10")) {
      EXPECT_TRUE(o["log"].is_null());
      EXPECT_TRUE(history.empty());
      return;
    }
    ASSERT_TRUE(o["log"].is_string());
    EXPECT_THAT(test::ReadFile(o["log"]), HasSubstr("result: " + cls + "\n"));
    ASSERT_EQ(history.size(), 2u);
    for (const TPastRun& run : history) EXPECT_EQ(run.result, cls) << run.path;
  };
  for (const std::string& profile : ProfileNames()) {
    for (const bool aspi : {false, true}) {
      SCOPED_TRACE(profile + (aspi ? " aspi" : " passthrough"));
      std::filesystem::remove_all(dir_ + "/tavoflash");
      const TResult json = Run({profile}, {}, true, aspi);
      const TResult text = Run({profile}, {}, false, aspi);
      const std::vector<nlohmann::json> events = CheckedEvents(json.out);
      ASSERT_FALSE(events.empty());
      EXPECT_EQ(events.front()["event"], "start");
      EXPECT_EQ(events.front()["transport"], aspi ? "aspi" : "passthrough");
      const auto drives = OfKind(events, "drive");
      ASSERT_EQ(drives.size(), 1u);
      if (profile == "legacy-unlisted") {
        EXPECT_FALSE(drives[0]["matches"]);
        EXPECT_THAT(drives[0]["why_not"].get<std::string>(), HasSubstr("not a TAVO QRD-1040C"));
        EXPECT_TRUE(OfKind(events, "outcome").empty());
        ASSERT_EQ(OfKind(events, "error").size(), 1u);
        EXPECT_EQ(OfKind(events, "error")[0]["code"], "no_matching_drive");
        EXPECT_EQ(json.code, 2);
        continue;
      }
      agree(json, text, profile == "current" ? "1.08" : profile == "newer" ? "1.10" : "1.05");
    }
  }
  // A device that refused its only writing command as an illegal request is unchanged; a
  // drive that took banks before it refused one and then fell silent is not.
  const std::map<std::string, std::string> recordings = {
      {"download_illegal.jsonl", "nothing_written"},
      {"bank4_refused_cut.jsonl", "written_unverified"},
  };
  for (const auto& [recording, cls] : recordings) {
    SCOPED_TRACE(recording);
    std::filesystem::remove_all(dir_ + "/tavoflash");
    const TResult json = Replay(recording, true);
    const TResult text = Replay(recording, false);
    EXPECT_EQ(json.code, cls == "nothing_written" ? 1 : 3);
    EXPECT_EQ(OfKind(CheckedEvents(json.out), "outcome").at(0)["class"], cls);
    agree(json, text, "1.05");
  }
}

TEST_F(CliFlowTest, IfNeededLeavesACurrentDriveAloneAndWithoutItTheDriveIsFlashed) {
  TCliOptions ifNeeded;
  ifNeeded.ifNeeded = true;
  const TResult left = Run({"current"}, ifNeeded, true);
  EXPECT_EQ(left.code, 0);
  EXPECT_THAT(WritingCommands(0), ::testing::IsEmpty());
  const auto outcomes = OfKind(CheckedEvents(left.out), "outcome");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0]["class"], "current");
  EXPECT_EQ(outcomes[0]["changed"], false);
  EXPECT_THAT(outcomes[0]["summary"].get<std::string>(), HasSubstr("already at 1.08"));
  EXPECT_TRUE(outcomes[0]["log"].is_null());  // a look that changes nothing keeps no log
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/tavoflash"));

  // A drive at another revision is flashed with --if-needed; a current one without it.
  EXPECT_EQ(Run({"default"}, ifNeeded, false).code, 0);
  EXPECT_FALSE(WritingCommands(0).empty());
  EXPECT_EQ(Run({"current"}, {}, false).code, 0);
  EXPECT_FALSE(WritingCommands(0).empty());
}

TEST_F(CliFlowTest, ADowngradeNeedsAllowOlderWithYesAndIfNeededLeavesANewerDriveAlone) {
  const TResult refused = Run({"newer"}, {}, false);
  EXPECT_EQ(refused.code, 4);
  EXPECT_THAT(refused.err, HasSubstr("it reports 1.10, newer than the image's 1.08, and --yes "
                                     "alone does not install an older revision: give "
                                     "--allow-older to do so."));
  EXPECT_THAT(WritingCommands(0), ::testing::IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/tavoflash"));

  TCliOptions allowOlder;
  allowOlder.allowOlder = true;
  EXPECT_EQ(Run({"newer"}, allowOlder, false).code, 0);
  EXPECT_FALSE(WritingCommands(0).empty());

  TCliOptions ifNeeded;
  ifNeeded.ifNeeded = true;
  ifNeeded.allowOlder = true;
  const TResult left = Run({"newer"}, ifNeeded, true);
  EXPECT_EQ(left.code, 0);
  EXPECT_THAT(WritingCommands(0), ::testing::IsEmpty());
  const auto outcomes = OfKind(CheckedEvents(left.out), "outcome");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0]["class"], "newer");
  EXPECT_EQ(outcomes[0]["old_revision"], "1.10");
  EXPECT_EQ(outcomes[0]["changed"], false);
  EXPECT_THAT(outcomes[0]["text"].get<std::string>(), HasSubstr("newer than the image's 1.08"));
}

TEST_F(CliFlowTest, DriveAllFlashesEachInTurnAndStopsAfterAnUnverifiedOne) {
  TCliOptions all;
  all.allDrives = true;
  all.ifNeeded = true;
  {
    const TResult r = Run({"default", "current", "default"}, all, true);
    EXPECT_EQ(r.code, 0);
    const auto outcomes = OfKind(CheckedEvents(r.out), "outcome");
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0]["class"], "verified");
    EXPECT_EQ(outcomes[1]["class"], "current");
    EXPECT_EQ(outcomes[2]["class"], "verified");
    EXPECT_EQ(outcomes[2]["node"], "emulated:sr2");
    EXPECT_NE(outcomes[0]["log"], outcomes[2]["log"]);  // a run log each
  }
  {
    // Worst outcome: a drive that stayed unchanged fails the whole, the rest still run.
    const TResult r = Run({"other-family", "default"}, all, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(WritingCommands(1).empty());
  }
  {
    const TResult r = Run({"bad-verify", "default"}, all, true);
    EXPECT_EQ(r.code, 3);
    const auto events = CheckedEvents(r.out);
    ASSERT_EQ(OfKind(events, "outcome").size(), 1u);
    ASSERT_EQ(OfKind(events, "error").size(), 1u);
    EXPECT_EQ(OfKind(events, "error")[0]["code"], "stopped");
    EXPECT_THAT(WritingCommands(1), ::testing::IsEmpty());
  }
}

TEST_F(CliFlowTest, HistoryListsTheLoggedRunsNewestFirst) {
  TCliOptions all;
  all.allDrives = true;
  Run({"default", "other-family"}, all, false);
  const std::vector<TPastRun> runs = ReadRunHistory(dir_ + "/tavoflash");
  ASSERT_EQ(runs.size(), 2u);
  // sr1 ran second: it comes first.
  EXPECT_EQ(runs[0].node, "emulated:sr1");
  EXPECT_EQ(runs[0].result, "nothing_written");
  EXPECT_EQ(runs[0].newRevision, "1.05");
  EXPECT_EQ(runs[1].node, "emulated:sr0");
  EXPECT_EQ(runs[1].identity, "TAVO QRD-1040C");
  EXPECT_EQ(runs[1].oldRevision, "1.05");
  EXPECT_EQ(runs[1].newRevision, "1.08");
  EXPECT_EQ(runs[1].result, "verified");
  EXPECT_EQ(runs[1].summary, "Verified: now 1.08; restart");
  EXPECT_LT(runs[1].date, runs[0].date);
}

TEST(RunHistory, OlderAndUnfinishedLogsAreStillListed) {
  // An older version's log: no result or revision lines; a log line that looks like a
  // field does not count, since timed lines begin with their time.
  const TPastRun old = ParseRunLog(
      "TAVOFlash run, started 2024-05-01 12:00:00.000\n"
      "program: tavoflash-cli 1.00\ndevice: /dev/sr1\n"
      "drive: TAVO    QRD-1040C        1.05\n\n"
      "2024-05-01 12:00:01.000  result: verified\n\n"
      "outcome: Failed: drive unchanged\nNothing was written.\n",
      "/x/run-1.log");
  EXPECT_EQ(old.node, "/dev/sr1");
  EXPECT_EQ(old.oldRevision, "1.05");
  EXPECT_EQ(old.result, "");
  EXPECT_EQ(old.summary, "Failed: drive unchanged");
  const TPastRun cut = ParseRunLog(
      "TAVOFlash run, started 2024-05-01 12:00:00.000\ndevice: /dev/sr0\n\n"
      "2024-05-01 12:00:01.000  Flashing ..\n",
      "/x/run-2.log");
  EXPECT_EQ(cut.summary, "");  // killed during the run: shown as unfinished
}

}  // namespace
}  // namespace tavo
