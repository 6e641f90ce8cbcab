// What a support report is made of: the private values it replaces, and the flight
// recording a run keeps, read back by a replay even when the program died mid-run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "emulator/recording_reader.h"
#include "session/flight_recorder.h"
#include "session/privacy.h"
#include "session/replay_source.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;

TEST(PrivacyScrubber, ReplacesEachValueWhereItStandsAndNowhereElse) {
  TPrivateValues values;
  values.users = {"al", "fred"};
  values.homes = {"/home/al/", "/srv/fred"};
  values.hosts = {"Box7"};
  values.machineIds = {"0123456789abcdef0123456789abcdef"};
  const TPrivacyScrubber scrubber(values);
  // A home folder begins a path, and wins over the user name inside it.
  EXPECT_EQ(scrubber.Scrub("log: /home/al/.local/state/run.log"),
            "log: <home-1>/.local/state/run.log");
  // Not the home folder, but still the user's name.
  EXPECT_EQ(scrubber.Scrub("/home/alice/x /home/al.old"), "/home/alice/x /home/<user-1>.old");
  // Names as whole words only: not inside a longer word, a hex run or a device name.
  EXPECT_EQ(scrubber.Scrub("al fred; alfred salt al."), "<user-1> <user-2>; alfred salt <user-1>.");
  EXPECT_EQ(scrubber.Scrub("data 00al00 fred0"), "data 00al00 fred0");
  // Host names in any case, and before a domain.
  EXPECT_EQ(scrubber.Scrub("box7 BOX7.example.org Box7s"), "<host-1> <host-1>.example.org Box7s");
  EXPECT_EQ(scrubber.Scrub("id=0123456789ABCDEF0123456789ABCDEF!"), "id=<machine-id-1>!");
  // The same value, the same placeholder, throughout.
  EXPECT_EQ(scrubber.Scrub("/srv/fred fred /srv/fred"), "<home-2> <user-2> <home-2>");
}

TEST(PrivacyScrubber, APlaceholderIsNeverScrubbedAgainAndEmptyValuesReplaceNothing) {
  TPrivateValues values;
  values.users = {"user", "1", ""};
  values.homes = {"/"};
  const TPrivacyScrubber scrubber(values);
  EXPECT_EQ(scrubber.Scrub("user 1 /dev/sr1"), "<user-1> <user-2> /dev/sr1");
}

class FlightRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo-flight-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(FlightRecording, ARunsRecordingBesideItsLogReplaysEvenWhileStillOpen) {
  const std::string kept = std::string(TAVO_RECORDINGS_DIR) + "/failed_verify.jsonl";
  std::string error;
  const std::optional<TRecording> original = ReadRecordingFile(kept, error);
  ASSERT_TRUE(original) << error;
  std::ifstream in(kept);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);

  TFlightRecorder flight;
  // The lines before the run began (the search for drives) are written when it begins.
  for (size_t i = 0; i < lines.size() / 2; ++i) flight.Add(lines[i]);
  const std::string log = (root_ / "run-20260101-000000-000.log").string();
  ASSERT_TRUE(flight.StartFile(log, error)) << error;
  EXPECT_EQ(flight.Path(), (root_ / "run-20260101-000000-000.jsonl.gz").string());
  for (size_t i = lines.size() / 2; i < lines.size(); ++i) flight.Add(lines[i]);

  // The file is not closed yet, as after a crash: every whole line is there.
  std::optional<TRecording> replayed = ReadReplaySource(flight.Path(), error);
  ASSERT_TRUE(replayed) << error;
  EXPECT_EQ(replayed->commands.size(), original->commands.size());
  flight.EndFile();
  replayed = ReadReplaySource(flight.Path(), error);
  ASSERT_TRUE(replayed) << error;
  ASSERT_EQ(replayed->commands.size(), original->commands.size());
  EXPECT_EQ(replayed->commands.back().cdb, original->commands.back().cdb);
  EXPECT_EQ(fs::status(flight.Path()).permissions() & fs::perms::others_read, fs::perms::none);
  // An existing file is never replaced.
  EXPECT_FALSE(flight.StartFile(log, error));
  EXPECT_THAT(error, ::testing::HasSubstr("it exists already"));
}

TEST_F(FlightRecording, ACompressedFileThatIsNoRecordingIsRefusedWithWhy) {
  const fs::path bad = root_ / "bad.gz";
  std::ofstream(bad) << "\x1f\x8b garbage";
  std::string error;
  EXPECT_FALSE(ReadReplaySource(bad.string(), error));
  EXPECT_THAT(error, ::testing::StartsWith("cannot be decompressed: "));
}

}  // namespace
}  // namespace tavo
