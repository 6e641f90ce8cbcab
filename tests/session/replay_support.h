// Whole sessions on a virtual clock for the record/replay tests: the start-up sequence and a
// flash run (or the check) over a virtual drive with the recording ports in between, and
// the same over a replay of the recording.
#pragma once

#include <string>
#include <vector>

#include "drive/clock.h"
#include "drive/ports.h"
#include "emulator/profiles.h"
#include "emulator/recording_reader.h"
#include "flash/drive_check.h"
#include "session/run_outcome.h"

namespace tavo::test {

struct TSessionRun {
  std::vector<std::string> logs;      // the log lines, start-up notices included
  std::vector<std::string> messages;  // the drive layer's messages (and a replay's report)
  bool verified = false;
  TRunFacts facts;           // the outcome of a flash session's run (nothing written when none ran)
  uint64_t elapsedMs = 0;    // virtual time the session took
  TCheckReport check;        // for check sessions
  std::string recording;     // the recording a recorded session wrote
  std::string backupSha256;  // FlashWithBackup: the memory SHA-256 of the backup kept
};

// FlashWithBackup: the run keeps its backup in memory before it writes.
enum class TSessionKind { Flash, FlashWithBackup, Check };

// Records a session on one virtual drive of the profile.
TSessionRun RecordSession(const TDriveProfile& profile, bool aspi,
                          TSessionKind kind = TSessionKind::Flash);
// Replays a recording's text; the replay's divergence report lands in messages.
TSessionRun ReplaySession(const std::string& recording, TSessionKind kind = TSessionKind::Flash,
                          std::string* divergence = nullptr);
// The parsed recording (fails the test when it does not parse).
TRecording ParseRecording(const std::string& text);

}  // namespace tavo::test
