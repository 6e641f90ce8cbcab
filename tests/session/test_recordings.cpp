// The recordings kept in tests/recordings replay to their expected log lines. Each NAME.jsonl
// was recorded from a virtual drive profile; NAME.log holds the log lines of that session
// and, last, "result: verified" or "result: failed".
//
// Regenerate them (after a change that alters what goes over the bus) with
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
};

// A verified run on each transport, a refused commit with its retries, a drive that never
// comes back (time-out) and a failed verification.
constexpr TKept kKept[] = {
    {"verified_sptd", "default", false},         {"verified_aspi", "default", true},
    {"commit_retries", "commit-illegal", false}, {"never_ready", "never-ready", false},
    {"failed_verify", "bad-verify", true},
};

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
  return text + (run.verified ? "result: verified\n" : "result: failed\n");
}

TEST(Recordings, ReplayToTheirLogLines) {
  const bool regenerate = std::getenv("TAVO_REGENERATE_RECORDINGS") != nullptr;
  for (const TKept& kept : kKept) {
    SCOPED_TRACE(kept.name);
    if (regenerate) {
      const TSessionRun run = RecordSession(*FindProfile(kept.profile), kept.aspi);
      std::ofstream(Path(kept.name, ".jsonl"), std::ios::binary) << run.recording;
      std::ofstream(Path(kept.name, ".log"), std::ios::binary) << Expected(run);
    }
    const std::string recording = Slurp(Path(kept.name, ".jsonl"));
    ASSERT_FALSE(recording.empty()) << "missing " << Path(kept.name, ".jsonl");
    EXPECT_EQ(Expected(ReplaySession(recording)), Slurp(Path(kept.name, ".log")));
  }
}

}  // namespace
}  // namespace tavo::test
