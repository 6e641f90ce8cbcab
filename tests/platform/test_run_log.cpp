// Run logs: the header, time-stamped lines and the outcome in one file per run, the copy
// given by --log, and that only the newest runs are kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/run_log.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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

  const std::string text = ReadAll(log.Path());
  EXPECT_EQ(fs::path(log.Path()).parent_path(), root_ / "state/tavoflash");
  EXPECT_THAT(text, HasSubstr("program: tavoflash-cli 1.01\ndevice: /dev/sr1\n"));
  EXPECT_THAT(text,
              ContainsRegex("\n[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12}  Important Notice: \n"));
  EXPECT_THAT(text, ContainsRegex("[0-9:.]{12}  Err:Flash Fail.\n"));
  EXPECT_THAT(text, HasSubstr("outcome: Failed: do not power off, run again\n"));
  EXPECT_LT(text.find("Important Notice"), text.find("Err:Flash Fail."));
  EXPECT_EQ(ReadAll(copy), text);
  EXPECT_EQ(fs::status(log.Path()).permissions() & fs::perms::others_read, fs::perms::none);
}

TEST_F(RunLogTest, OnlyTheNewestRunsAreKept) {
  const fs::path dir = root_ / "logs";
  fs::create_directories(dir);
  // Older runs, and a file that is not a run log and must stay.
  for (int i = 0; i < kKeptRuns + 5; ++i) {
    std::ofstream(dir / ("run-2000010" + std::to_string(i % 10) + "-00000" +
                         std::to_string(i / 10) + "-000.log"));
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
