// Record -> replay: a session recorded at the port seam replays to the same log lines,
// outcome, drive messages and virtual time on both transports; a changed byte ends the
// replay at its command; a recording that does not parse is rejected whole; the check
// sends only reading commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "drive/recording_format.h"
#include "platform/record_file.h"
#include "session/drive_session.h"
#include "tests/session/replay_support.h"
#include "tests/support/recording.h"

namespace tavo::test {
namespace {

using ::testing::HasSubstr;

struct TCase {
  std::string profile;
  bool aspi;
};

void PrintTo(const TCase& c, std::ostream* os) {
  *os << c.profile << (c.aspi ? " over the sg driver" : " over pass-through");
}

class RoundTrip : public ::testing::TestWithParam<TCase> {};

TEST_P(RoundTrip, ReplayGivesTheSameSession) {
  const TSessionRun recorded = RecordSession(*FindProfile(GetParam().profile), GetParam().aspi);
  ASSERT_FALSE(ParseRecording(recorded.recording).commands.empty());
  const TSessionRun replayed = ReplaySession(recorded.recording);
  EXPECT_EQ(replayed.logs, recorded.logs);
  EXPECT_EQ(replayed.verified, recorded.verified);
  EXPECT_EQ(replayed.messages, recorded.messages);
  EXPECT_EQ(replayed.elapsedMs, recorded.elapsedMs);
}

std::vector<TCase> AllCases() {
  std::vector<TCase> cases;
  for (const std::string& name : ProfileNames()) {
    cases.push_back({name, false});
    cases.push_back({name, true});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryProfile, RoundTrip, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) {
                           std::string name =
                               info.param.profile + (info.param.aspi ? "_aspi" : "_sptd");
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

// The lines of a recording, and the line of command seq.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

size_t CommandLine(const std::vector<std::string>& lines, const std::string& cdbPrefix) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("\"cdb\":\"" + cdbPrefix) != std::string::npos) return i;
  }
  return lines.size();
}

TEST(Replay, OneChangedByteEndsTheReplayAtItsCommand) {
  for (const bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "aspi" : "sptd");
    const TSessionRun recorded = RecordSession(*FindProfile("default"), aspi);
    std::vector<std::string> lines = Lines(recorded.recording);
    // The commit: mode 4 of the flash write command. Its selector byte is changed.
    const size_t at = CommandLine(lines, "5a00384153a004");
    ASSERT_LT(at, lines.size());
    const size_t cdb = lines[at].find("\"cdb\":\"") + 7;
    lines[at].replace(cdb + 14, 2, "ff");
    const TRecording parsed = ParseRecording(Join(lines));
    uint64_t seq = 0;
    for (const TRecordedCommand& c : parsed.commands) {
      if (c.cdb[5] == 0xA0 && c.cdb[6] == 0x04) seq = c.seq;
    }
    ASSERT_NE(seq, 0u);

    std::string divergence;
    const TSessionRun replayed = ReplaySession(Join(lines), TSessionKind::Flash, &divergence);
    EXPECT_THAT(divergence, HasSubstr("command " + std::to_string(seq) + " differs"));
    EXPECT_THAT(divergence, HasSubstr("recorded"));
    EXPECT_THAT(divergence, HasSubstr("5A 00 38 41 53 A0 04 FF"));  // as recorded
    EXPECT_THAT(divergence, HasSubstr("5A 00 38 41 53 A0 04 E8"));  // as sent
    // The drive stops answering: the run fails and the report reaches the user once.
    EXPECT_FALSE(replayed.verified);
    EXPECT_EQ(std::count(replayed.messages.begin(), replayed.messages.end(), divergence), 1);
  }
}

TEST(Replay, ChangedDataSentEndsTheReplay) {
  const TSessionRun recorded = RecordSession(*FindProfile("default"), false);
  std::vector<std::string> lines = Lines(recorded.recording);
  const size_t at = CommandLine(lines, "5a00384153a00500");  // bank 0's download
  ASSERT_LT(at, lines.size());
  const size_t digest = lines[at].find("\"sha256\":\"") + 10;
  lines[at][digest] = lines[at][digest] == '0' ? '1' : '0';
  std::string divergence;
  ReplaySession(Join(lines), TSessionKind::Flash, &divergence);
  EXPECT_THAT(divergence, HasSubstr("differs from the recording"));
  EXPECT_THAT(divergence, HasSubstr("data sha256"));
}

TEST(Replay, ACommandAfterTheEndOfTheRecordingEndsTheReplay) {
  const TSessionRun recorded = RecordSession(*FindProfile("default"), false);
  std::vector<std::string> lines = Lines(recorded.recording);
  const size_t keep = CommandLine(lines, "5a00384153a0");  // up to the first download
  lines.resize(keep);
  std::string divergence;
  const TSessionRun replayed = ReplaySession(Join(lines), TSessionKind::Flash, &divergence);
  EXPECT_THAT(divergence, HasSubstr("was sent after the recording ended"));
  EXPECT_FALSE(replayed.verified);
}

std::string ReadError(const std::string& text) {
  std::istringstream in(text);
  std::string error;
  EXPECT_FALSE(ReadRecording(in, error)) << "accepted:\n" << text;
  return error;
}

TEST(Replay, RecordingsThatDoNotParseAreRejectedWithTheirLine) {
  const std::string good = RecordSession(*FindProfile("default"), false).recording;
  std::vector<std::string> lines = Lines(good);

  // Cut in the middle of its last line.
  EXPECT_THAT(ReadError(good.substr(0, good.size() - 10)),
              HasSubstr("line " + std::to_string(lines.size()) + ": "));
  // Cut right after a closing brace: parses, but has no line end.
  EXPECT_THAT(ReadError(good.substr(0, good.size() - 1)), HasSubstr("cut short"));

  std::vector<std::string> bad = lines;
  bad[5] = "{\"type\":\"cmd\", oops";
  EXPECT_THAT(ReadError(Join(bad)), HasSubstr("line 6: not JSON"));

  bad = lines;
  const size_t at = CommandLine(bad, "12");
  bad[at].replace(bad[at].find("\"cdb\":\"") + 7, 2, "zz");
  EXPECT_THAT(ReadError(Join(bad)), HasSubstr("line " + std::to_string(at + 1) + ": \"cdb\""));

  bad = lines;
  bad.erase(bad.begin() + static_cast<long>(CommandLine(bad, "12")));  // seq 1 missing
  EXPECT_THAT(ReadError(Join(bad)), HasSubstr("command 2 where command 1 belongs"));

  bad = lines;
  bad[0] = "{\"type\":\"slots\",\"count\":1}";
  EXPECT_THAT(ReadError(Join(bad)), HasSubstr("line 1: "));
  EXPECT_THAT(ReadError(""), HasSubstr("line 1: the recording is empty"));
}

TEST(Replay, WhatIsNoRecordingIsRefusedBeforeItIsReadWhole) {
  const std::string good = RecordSession(*FindProfile("default"), false).recording;
  std::vector<std::string> lines = Lines(good);
  const auto refused = [](const std::string& text) {
    const std::string error = ReadError(text);
    EXPECT_EQ(error.find("json"), std::string::npos) << error;  // no parser's own text
    return error;
  };
  // A header nested half a million levels deep (copying it used to overflow the stack), and
  // nesting just past the limit.
  std::vector<std::string> bad = lines;
  const size_t deep = 500000;
  bad[0].insert(bad[0].size() - 1, ",\"x\":" + std::string(deep, '[') + std::string(deep, ']'));
  EXPECT_EQ(refused(Join(bad)), "line 1: nested deeper than 16 levels");
  bad = lines;
  bad[3] = "{\"a\":" + std::string(16, '[') + std::string(16, ']') + "}";
  EXPECT_EQ(refused(Join(bad)), "line 4: nested deeper than 16 levels");
  bad[3] = "{\"a\":\"" + std::string(40, '[') + "\"}";  // inside a string: no nesting
  EXPECT_EQ(refused(Join(bad)), "line 4: no \"type\"");
  // Longer than any real line (those reach about 130 KB); a file without line ends.
  bad = lines;
  bad[1] = std::string(2u << 20, ' ');
  EXPECT_EQ(refused(Join(bad)), "line 2: the line is longer than 1 MiB");
  EXPECT_EQ(refused(std::string(3u << 20, '\0')), "line 1: the line is longer than 1 MiB");
  // Binary and broken lines.
  EXPECT_EQ(refused(std::string("\x7f"
                                "ELF\x02\x01\x01\x00\n",
                                9)),
            "line 1: not text (byte 02h at character 5)");
  EXPECT_EQ(refused("{\"type\":\"header\" oops}\n"), "line 1: not JSON (at character 18)");
  bad = lines;
  bad[2] = "{\"type\":\"slots\",\"count\":\"\xff\xfe\"}";
  EXPECT_THAT(refused(Join(bad)), HasSubstr("line 3: not JSON"));
}

TEST(Replay, FoldersDevicesAndHugeFilesAreNoRecordings) {
  char dir[] = "/tmp/tavo-replay-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string huge = std::string(dir) + "/huge.jsonl";
  {
    std::ofstream out(huge);
    out.seekp((256u << 20) + 1);  // a sparse file just over the limit: nothing is written
    out << '\n';
  }
  std::string error;
  EXPECT_FALSE(ReadRecordingFile(dir, error));
  EXPECT_EQ(error, "is a folder, not a recording");
  EXPECT_FALSE(ReadRecordingFile("/dev/zero", error));
  EXPECT_EQ(error, "is not a regular file (a device, a FIFO or a socket), not a recording");
  EXPECT_FALSE(ReadRecordingFile(huge, error));
  EXPECT_EQ(error, "is larger than 256 MiB, not a recording");
  std::remove(huge.c_str());
  rmdir(dir);
}

TEST(Recording, LongDataIsDigestedAndRepeatedRepliesReferToIt) {
  const TRecording recording =
      ParseRecording(RecordSession(*FindProfile("default"), false).recording);
  int digests = 0;
  int references = 0;
  for (const TRecordedCommand& c : recording.commands) {
    if (c.dataOut.is_object()) {
      EXPECT_GT(c.dataOut["length"].get<uint64_t>(), rec::kDataOutHexLimit);
      ++digests;
    }
    if (c.dataIn.is_object() && c.dataIn.dump().find("\"from\"") != std::string::npos) ++references;
  }
  EXPECT_EQ(digests, 8);       // the eight bank downloads
  EXPECT_GT(references, 100);  // the read-back of what was downloaded
}

// The backup reads the drive's memory twice: the second read's replies refer to the first's,
// and the replay answers them with the same bytes, so it keeps the same backup.
TEST(Recording, TheBackupsSecondReadReferToTheFirstAndReplayAlike) {
  for (const bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "aspi" : "sptd");
    const TSessionRun recorded =
        RecordSession(*FindProfile("default"), aspi, TSessionKind::FlashWithBackup);
    ASSERT_TRUE(recorded.verified);
    ASSERT_FALSE(recorded.backupSha256.empty());
    size_t memoryReads = 0;
    size_t referring = 0;
    for (const TRecordedCommand& c : ParseRecording(recorded.recording).commands) {
      if (c.cdb.size() < 6 || c.cdb[0] != 0x5A || c.cdb[5] != 0x11) continue;
      ++memoryReads;
      if (c.dataIn.is_object() && c.dataIn.dump().find("\"from\"") != std::string::npos) {
        ++referring;
      }
    }
    // Both passes and the verification read memory: the second pass refers to the first
    // all through, the verification to what was downloaded, more than half in all.
    EXPECT_GT(referring, memoryReads / 2) << memoryReads << " memory reads";
    const TSessionRun replayed = ReplaySession(recorded.recording, TSessionKind::FlashWithBackup);
    EXPECT_TRUE(replayed.verified);
    EXPECT_EQ(replayed.backupSha256, recorded.backupSha256);
    EXPECT_LT(recorded.recording.size(), size_t{3} << 20);
  }
}

TEST(Check, EveryProfileGetsItsVerdictWithReadingCommandsOnly) {
  const std::map<std::string, std::string> stops = {
      {"other-family", "Err:The firmware is not support this device!!(4)"},
      {"no-marker", "This firmware isn't support !!(10)"},
      {"lenient", "This firmware isn't support !!(10)"},
  };
  for (const std::string& name : ProfileNames()) {
    for (const bool aspi : {false, true}) {
      SCOPED_TRACE(name + (aspi ? " aspi" : " sptd"));
      const TSessionRun run = RecordSession(*FindProfile(name), aspi, TSessionKind::Check);
      ASSERT_EQ(run.check.drives.size(), 1u);
      const TDriveVerdict& v = run.check.drives[0];
      if (name == "legacy-unlisted") {
        EXPECT_EQ(v.listIndex, -1);
      } else if (stops.count(name) != 0) {
        EXPECT_FALSE(v.passes);
        EXPECT_EQ(v.stopLine, stops.at(name));
      } else {
        EXPECT_TRUE(v.passes) << v.stopLine;
      }
      for (const TRecordedCommand& c : ParseRecording(run.recording).commands) {
        const bool inquiry = c.cdb[0] == 0x12;
        const bool vendor = c.cdb.size() >= 6 && c.cdb[0] == 0x5A;
        const bool firmwareRead = vendor && c.cdb[2] == 0x33 && c.cdb[5] == 0x10;
        // The patch region is read as the run's refresh reads it, to search what it leaves.
        const bool patchRead = vendor && c.cdb[2] == 0x38 && (c.cdb[5] == 0xA3 || c.cdb[5] == 0x11);
        EXPECT_TRUE(inquiry || firmwareRead || patchRead) << "sent " << rec::Hex(c.cdb);
        EXPECT_EQ(c.direction, "in");
      }
    }
  }
}

TEST(RecordFile, AnExistingFileIsKeptUnlessOverwriteIsGiven) {
  char path[] = "/tmp/tavo_record_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::string error;
  EXPECT_EQ(TRecordFile::Create(path, false, error), nullptr);
  EXPECT_THAT(error, HasSubstr("exists already; give --record-overwrite"));
  {
    auto file = TRecordFile::Create(path, true, error);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteLine("{}"));
  }
  std::ifstream in(path);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "{}\n");
  std::remove(path);
}

}  // namespace
}  // namespace tavo::test

namespace tavo {
namespace {

// A recording says whether it was a run or a check; replayed as the other, it is refused
// before anything is sent, instead of ending in a divergence that says nothing about the
// drive. A list is the start of both and replays either.
using ::testing::HasSubstr;

TEST(Replay, ARecordingOfAnotherModeIsRefusedWithTheReason) {
  std::ifstream kept(std::string(TAVO_RECORDINGS_DIR) + "/verified_sptd.jsonl");
  std::string header;
  ASSERT_TRUE(std::getline(kept, header));
  ASSERT_EQ(header.back(), '}');
  std::stringstream rest;
  rest << kept.rdbuf();
  char path[] = "/tmp/tavo-mode-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream out(path);
    out << header.substr(0, header.size() - 1) << ",\"mode\":\"run\"}\n" << rest.str();
  }
  TVirtualClock clock;
  test::TRecordingSink sink;
  TStartupOptions options;
  options.emulate = true;
  options.replayFile = path;
  {
    TDriveSession check(options, clock, sink, {.program = "tavoflash-cli", .mode = "check"});
    EXPECT_FALSE(check.Ok());
    EXPECT_THAT(check.Error(), HasSubstr("records a run, not a check: replay it without --check"));
  }
  for (const char* mode : {"run", "list"}) {
    TDriveSession session(options, clock, sink, {.program = "tavoflash-cli", .mode = mode});
    EXPECT_TRUE(session.Ok()) << mode << ": " << session.Error();
  }
  ::unlink(path);
}

}  // namespace
}  // namespace tavo
