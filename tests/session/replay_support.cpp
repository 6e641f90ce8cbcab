#include "tests/session/replay_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "drive/atapi.h"
#include "drive/bus_recorder.h"
#include "emulator/replay_bus.h"
#include "emulator/virtual_bus.h"
#include "flash/flash_engine.h"
#include "image/firmware_image.h"
#include "session/startup.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/recording.h"
#include "tests/support/virtual_rig.h"

namespace tavo::test {

namespace {

void RunOn(TPassThroughPort* passThrough, TAspiPort* aspiPort, bool aspi, TVirtualClock& clock,
           TRecordingSink& sink, TSessionKind kind, TSessionRun& run) {
  TAtapiConfig config;
  config.passThrough = !aspi;
  config.passThroughPort = passThrough;
  config.aspiPort = aspiPort;
  config.sink = &sink;
  config.clock = &clock;
  const uint64_t start = clock.NowMs();
  {
    TAtapi atapi(config);
    if (kind == TSessionKind::Check) {
      run.check = CheckDrives(atapi, EmbeddedImage(), clock);
    } else {
      TFlashState state;
      TRecordingPort ui;
      TFlashEngine engine(state, atapi, EmbeddedImage(), ui, clock);
      TMemoryBackupStore backups;
      if (kind == TSessionKind::FlashWithBackup) engine.SetBackupStore(&backups);
      TConfirmingHooks hooks;
      if (RunStartup(engine, state, ui, hooks) == TStartupOutcome::Ready) engine.BitBtn2Click();
      if (!backups.kept.empty()) run.backupSha256 = backups.kept.back().memorySha256;
      run.logs = ui.logs;
      run.verified = engine.LastRunVerified();
      run.facts = FactsOfRun(engine, "tavoflash-cli");
    }
  }
  run.messages = sink.messages;
  run.elapsedMs = clock.NowMs() - start;
}

}  // namespace

TSessionRun RecordSession(const TDriveProfile& profile, bool aspi, TSessionKind kind) {
  TVirtualClock clock;
  TRecordingSink sink;
  TVirtualBus bus(clock);
  bus.AddDrive(profile);
  TSessionRun run;
  TBusRecorder recorder(clock, [&run](const std::string& line) { run.recording += line + "\n"; });
  TRecordingHeader header;
  header.program = "test_record_replay";
  header.programVersion = "test";
  header.image = "embedded";
  header.kernel = "virtual drive \"" + profile.name + "\" on a virtual clock";
  header.aspi = aspi;
  recorder.WriteHeader(header);
  TRecordingPassThroughPort passThrough(bus, recorder);
  TRecordingAspiPort aspiPort(bus, recorder);
  RunOn(&passThrough, &aspiPort, aspi, clock, sink, kind, run);
  return run;
}

TRecording ParseRecording(const std::string& text) {
  std::istringstream in(text);
  std::string error;
  std::optional<TRecording> recording = ReadRecording(in, error);
  EXPECT_TRUE(recording) << error;
  return recording ? std::move(*recording) : TRecording{};
}

TSessionRun ReplaySession(const std::string& text, TSessionKind kind, std::string* divergence) {
  TVirtualClock clock;
  TRecordingSink sink;
  TRecording recording = ParseRecording(text);
  const bool aspi = recording.aspi;
  TReplayBus bus(std::move(recording), clock,
                 [&sink](const std::string& report) { sink.ShowPlainMessage(report); });
  TSessionRun run;
  RunOn(&bus, &bus, aspi, clock, sink, kind, run);
  EXPECT_EQ(bus.Diverged(), divergence != nullptr) << bus.Divergence();
  if (divergence != nullptr) *divergence = bus.Divergence();
  if (divergence == nullptr) {
    EXPECT_EQ(bus.Answered(), bus.Recording().commands.size()) << "commands left unanswered";
  }
  return run;
}

}  // namespace tavo::test
