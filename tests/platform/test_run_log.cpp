// Run logs: the header, time-stamped lines and the outcome in one file per run, the copy
// given by --log, and that only the newest runs are kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/run_log.h"
#include "platform/run_retention.h"
#include "tests/support/text_files.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;

// The text of a run log that verified: rotation treats it as an ordinary run.
constexpr char kVerifiedRun[] = "TAVOFlash run, started 2000-01-01\n\nresult: verified\n";

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo-runlog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(RunLogTest, HeaderLinesWithTimesAndOutcomeGoToTheRunFileAndTheCopy) {
  const fs::path copy = root_ / "copy.log";
  TRunLog log((root_ / "state/tavoflash").string(), copy.string());
  log.SetJournal(false);
  log.Line("Important Notice: ");  // before the run: kept until it begins
  ASSERT_TRUE(log.Begin({{"program", "tavoflash-cli 1.01"}, {"device", "/dev/sr1"}}))
      << log.Error();
  log.Line("Err:Flash Fail.");
  log.End("Failed: do not power off, run again", "The firmware was sent ...");

  const std::string text = test::ReadFile(log.Path());
  EXPECT_EQ(fs::path(log.Path()).parent_path(), root_ / "state/tavoflash");
  EXPECT_THAT(text, HasSubstr("program: tavoflash-cli 1.01\ndevice: /dev/sr1\n"));
  EXPECT_THAT(text,
              ContainsRegex("\n[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12}  Important Notice: \n"));
  EXPECT_THAT(text, ContainsRegex("[0-9:.]{12}  Err:Flash Fail.\n"));
  EXPECT_THAT(text, HasSubstr("outcome: Failed: do not power off, run again\n"));
  EXPECT_LT(text.find("Important Notice"), text.find("Err:Flash Fail."));
  EXPECT_EQ(test::ReadFile(copy), text);
  EXPECT_EQ(fs::status(log.Path()).permissions() & fs::perms::others_read, fs::perms::none);
}

TEST_F(RunLogTest, OnlyTheNewestRunsAreKept) {
  const fs::path dir = root_ / "logs";
  fs::create_directories(dir);
  // Older runs, and a file that is not a run log and must stay.
  for (int i = 0; i < kKeptRuns + 5; ++i) {
    std::ofstream(dir / ("run-2000010" + std::to_string(i % 10) + "-00000" +
                         std::to_string(i / 10) + "-000.log"))
        << kVerifiedRun;
  }
  std::ofstream(dir / "notes.txt");
  TRunLog log(dir.string(), "");
  log.SetJournal(false);
  ASSERT_TRUE(log.Begin({}));
  log.End("Verified: restart before use", "");
  int runs = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".log") ++runs;
  }
  EXPECT_EQ(runs, kKeptRuns);
  EXPECT_TRUE(fs::exists(log.Path()));  // the new run is among the kept ones
  EXPECT_TRUE(fs::exists(dir / "notes.txt"));
}

// Run files in dir, by name.
std::vector<std::string> RunFiles(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".log") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(RunLogTest, AClockThatWasAheadNeverCostsTheCurrentOrTheNewestRuns) {
  // Logs written while the clock was a year ahead: named and dated in the future.
  const fs::path dir = root_ / "logs";
  fs::create_directories(dir);
  const auto now = fs::file_time_type::clock::now();
  for (int i = 0; i < 5; ++i) {
    const fs::path run = dir / ("run-20991231-23595" + std::to_string(i) + "-000.log");
    std::ofstream{run} << kVerifiedRun;
    fs::last_write_time(run, now + std::chrono::hours(24 * 365) + std::chrono::minutes(i));
  }
  // Then the newest runs, written since the clock was put right.
  std::vector<std::string> recent;
  for (int i = 0; i < kKeptRuns - 2; ++i) {
    recent.push_back("run-20000101-0000" + std::to_string(10 + i) + "-000.log");
    std::ofstream{dir / recent.back()} << kVerifiedRun;
    fs::last_write_time(dir / recent.back(), now - std::chrono::minutes(60 - i));
  }
  TRunLog log(dir.string(), "");
  log.SetJournal(false);
  ASSERT_TRUE(log.Begin({}));
  log.End("Verified: restart before use", "");
  EXPECT_TRUE(fs::exists(log.Path()));
  std::vector<std::string> kept = recent;
  kept.push_back(fs::path(log.Path()).filename().string());
  kept.push_back("run-20991231-235954-000.log");  // the newest of the future ones
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(RunFiles(dir), kept);

  // Only future-dated logs left: the current run's file still stays.
  for (const std::string& name : recent) fs::remove(dir / name);
  for (int i = 0; i < kKeptRuns + 3; ++i) {
    const fs::path run = dir / ("run-20991231-2358" + std::to_string(10 + i) + "-000.log");
    std::ofstream{run} << kVerifiedRun;
    fs::last_write_time(run, now + std::chrono::hours(1));
  }
  TRunLog next(dir.string(), "");
  next.SetJournal(false);
  ASSERT_TRUE(next.Begin({}));
  next.End("Verified: restart before use", "");
  EXPECT_TRUE(fs::exists(next.Path()));
  EXPECT_EQ(RunFiles(dir).size(), size_t{kKeptRuns});
}

TEST_F(RunLogTest, RunsThatDidNotVerifyOutliveVerifiedOnesAndRecordingsGoWithTheirLogs) {
  const fs::path dir = root_ / "logs";
  fs::create_directories(dir);
  const auto now = fs::file_time_type::clock::now();
  // Oldest first: 12 failed or unfinished runs, then kKeptRuns verified and refused ones,
  // each with its recording; and a recording whose log is gone.
  std::vector<std::string> failed;
  for (int i = 0; i < 12 + kKeptRuns; ++i) {
    const std::string base = dir / ("run-20000101-0001" + std::to_string(10 + i) + "-000");
    const bool bad = i < 12;
    std::ofstream{base + ".log"} << (!bad ? (i % 2 != 0 ? kVerifiedRun : "\nresult: refused\n")
                                     : i % 3 == 0 ? "\n2000-01-01  Flashing ..\n"
                                                  : "\nresult: written_unverified\n");
    std::ofstream{base + ".jsonl.gz"} << "x";
    fs::last_write_time(base + ".log", now - std::chrono::minutes(100 - i));
    if (bad) failed.push_back(base);
  }
  std::ofstream{dir / "run-19990101-000000-000.jsonl.gz"} << "x";
  TRunLog log(dir.string(), "");
  log.SetJournal(false);
  ASSERT_TRUE(log.Begin({}));
  log.End("Verified: restart before use", "");
  // The new run and the newest kKeptRuns - 1 others; of the older ones, the newest
  // kKeptUnverifiedRuns failed ones, each still with its recording.
  EXPECT_EQ(RunFiles(dir).size(), kKeptRuns + kKeptUnverifiedRuns);
  for (size_t i = 0; i < failed.size(); ++i) {
    const bool kept = i >= failed.size() - kKeptUnverifiedRuns;
    EXPECT_EQ(fs::exists(failed[i] + ".log"), kept) << failed[i];
    EXPECT_EQ(fs::exists(failed[i] + ".jsonl.gz"), kept) << failed[i];
  }
  size_t recordings = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().string().ends_with(".jsonl.gz")) ++recordings;
  }
  EXPECT_EQ(recordings, kKeptRuns - 1 + kKeptUnverifiedRuns);  // none without its log
}

TEST_F(RunLogTest, AnEndWithoutARunWritesNoFileAndRemovesNone) {
  const fs::path dir = root_ / "logs";
  fs::create_directories(dir);
  for (int i = 0; i < kKeptRuns; ++i) {
    std::ofstream{dir / ("run-20000101-0000" + std::to_string(10 + i) + "-000.log")};
  }
  const std::vector<std::string> before = RunFiles(dir);
  TRunLog log(dir.string(), (root_ / "copy.log").string());
  log.SetJournal(false);
  log.Line("No drive found.");
  log.EndWithoutRun("No matching drive");
  EXPECT_EQ(RunFiles(dir), before);
  EXPECT_EQ(log.Path(), "");
}

TEST_F(RunLogTest, DirectoryFollowsXdgStateHomeThenHome) {
  const char* home = std::getenv("HOME");
  const std::string savedHome = home != nullptr ? home : "";
  setenv("XDG_STATE_HOME", (root_ / "st").c_str(), 1);
  EXPECT_EQ(TRunLog::DefaultDirectory(), (root_ / "st/tavoflash").string());
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", root_.c_str(), 1);
  EXPECT_EQ(TRunLog::DefaultDirectory(), (root_ / ".local/state/tavoflash").string());
  setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(RunLogTest, AnUnwritableDirectoryIsReportedAndTheRunGoesOn) {
  std::ofstream(root_ / "file");
  TRunLog log((root_ / "file/sub").string(), "");
  log.SetJournal(false);
  EXPECT_FALSE(log.Begin({}));
  EXPECT_FALSE(log.Error().empty());
  log.Line("still fine");
  log.End("x", "y");
}

}  // namespace
}  // namespace tavo
