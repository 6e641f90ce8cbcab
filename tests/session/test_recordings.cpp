// The recordings kept in tests/recordings replay to their expected log lines and outcome.
// Each NAME.jsonl was recorded from a virtual drive profile; NAME.log holds the log lines of
// that session and, last, "result: <class>" and "outcome: <the outcome paragraph>".
//
// Regenerate them (after a change that alters what goes over the bus or the words) with
//   TAVO_REGENERATE_RECORDINGS=1 build/dev/tests/session/test_record_replay
//       --gtest_filter='Recordings.*'
// (one command line).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/session/replay_support.h"

namespace tavo::test {
namespace {

struct TKept {
  const char* name;
  const char* profile;
  bool aspi;
  // Cut right after the first command that writes and is refused: the drive answers nothing
  // after it (the replay ends there).
  bool cutAtRefusedWrite = false;
};

// A verified run on each transport, a refused commit with its retries, a drive that never
// comes back (time-out), a failed verification, a device that refuses the first bank as an
// illegal request, and a drive that took three banks, refused the fourth and then fell
// silent.
constexpr TKept kKept[] = {
    {"verified_sptd", "default", false},
    {"verified_aspi", "default", true},
    {"commit_retries", "commit-illegal", false},
    {"never_ready", "never-ready", false},
    {"failed_verify", "bad-verify", true},
    {"download_illegal", "download-illegal", false},
    {"bank4_refused_cut", "bank4-refused", false, true},
};

// The recording up to and including its first refused command that writes.
std::string CutAtRefusedWrite(const std::string& recording) {
  std::istringstream in(recording);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    kept += line + "\n";
    if (line.find("\"type\":\"cmd\"") != std::string::npos &&
        line.find("\"direction\":\"out\"") != std::string::npos &&
        line.find("\"status\":2,") != std::string::npos) {
      break;
    }
  }
  return kept;
}

std::string Path(const std::string& name, const char* extension) {
  return std::string(TAVO_RECORDINGS_DIR) + "/" + name + extension;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Expected(const TSessionRun& run) {
  std::string text;
  for (const std::string& line : run.logs) text += line + "\n";
  return text + "result: " + OutcomeClassName(run.facts.outcome) +
         "\noutcome: " + OutcomeText(run.facts) + "\n";
}

TEST(Recordings, ReplayToTheirLogLines) {
  const bool regenerate = std::getenv("TAVO_REGENERATE_RECORDINGS") != nullptr;
  for (const TKept& kept : kKept) {
    SCOPED_TRACE(kept.name);
    std::string divergence;
    std::string* cut = kept.cutAtRefusedWrite ? &divergence : nullptr;
    if (regenerate) {
      TSessionRun run = RecordSession(*FindProfile(kept.profile), kept.aspi);
      const std::string recording =
          cut != nullptr ? CutAtRefusedWrite(run.recording) : run.recording;
      if (cut != nullptr) run = ReplaySession(recording, TSessionKind::Flash, cut);
      std::ofstream(Path(kept.name, ".jsonl"), std::ios::binary) << recording;
      std::ofstream(Path(kept.name, ".log"), std::ios::binary) << Expected(run);
    }
    const std::string recording = Slurp(Path(kept.name, ".jsonl"));
    ASSERT_FALSE(recording.empty()) << "missing " << Path(kept.name, ".jsonl");
    const TSessionRun replayed = ReplaySession(recording, TSessionKind::Flash, cut);
    EXPECT_EQ(Expected(replayed), Slurp(Path(kept.name, ".log")));
  }
}

}  // namespace
}  // namespace tavo::test
