// What the backup costs a run: a whole verified run on a virtual drive (virtual clock) with
// its backup kept by the program's own keeper in a temporary folder, and the same run with
// the backup skipped as --no-backup skips it, on both transports, on the default drive
// (full-bank transfers) and on one that takes the normal download. Google Benchmark times
// the program's own work: start-up, the run, and the run's flight recording written as the
// compressed file a run leaves (the backup's reads are recorded like every command). The
// counters give the drive's side of a run: the virtual time of the whole run, of its backup
// and of the verification's read-back (one pass), the commands and the 256-byte memory
// reads each of them sends, the bytes a backup keeps and the recording file's size. The
// virtual drive answers every command at once: its time holds only the pauses the program
// makes itself, and the reads count the work a real drive spends its time on. The keeper's
// own share (packing, digests, two files written and flushed) is timed apart.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "flash/user_port.h"
#include "session/drive_backup.h"
#include "session/flight_recorder.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/virtual_rig.h"

namespace {

namespace fs = std::filesystem;
using tavo::TCommandKind;
using tavo::TCommandRecord;
using tavo::TPhaseKind;

// A folder of its own under /tmp, removed with everything in it.
class TScratchFolder {
 public:
  TScratchFolder() {
    char pattern[] = "/tmp/tavo-bench-backup-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  // The bytes of the files in it; the files are removed.
  uintmax_t TakeBytes() const {
    uintmax_t bytes = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(path_)) {
      bytes += e.file_size();
      fs::remove(e.path());
    }
    return bytes;
  }

 private:
  std::string path_;
};

// Processor time of this thread so far, in milliseconds.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Where a phase began: the drive's command count and the virtual time then.
struct TPhaseMark {
  TPhaseKind kind;
  size_t command;
  uint64_t ms;
};

// The port of a run nobody watches (it shows nothing, so only the procedure's own work is
// timed), noting where each phase begins.
class TPhaseMarks final : public tavo::TLogOnlyPort {
 public:
  explicit TPhaseMarks(tavo::test::TVirtualRig& rig) : rig_(rig) {}
  void SetPhase(const tavo::TPhase& phase) override {
    if (!marks.empty() && marks.back().kind == phase.kind) return;
    marks.push_back({phase.kind, rig_.bus->Drive(0).History().size(), rig_.clock.NowMs()});
  }
  std::vector<TPhaseMark> marks;

 private:
  tavo::test::TVirtualRig& rig_;
};

// One span of a run: its commands [from, to) in the drive's history and its virtual time.
struct TSpan {
  size_t from = 0;
  size_t to = 0;
  uint64_t fromMs = 0;
  uint64_t toMs = 0;
};

// The drive's share of a span.
struct TDriveWork {
  double commands = 0;
  double reads = 0;  // ReadMemory, 256 bytes each
  double virtualMs = 0;
};

TDriveWork Work(const std::vector<TCommandRecord>& history, const TSpan& span) {
  TDriveWork work;
  work.commands = static_cast<double>(span.to - span.from);
  work.virtualMs = static_cast<double>(span.toMs - span.fromMs);
  for (size_t i = span.from; i < span.to; ++i) {
    if (history[i].kind == TCommandKind::ReadMemory) ++work.reads;
  }
  return work;
}

// The span of a phase: from its first report up to the next phase, or up to the run's end
// (end). Empty when the run never reached it.
TSpan PhaseSpan(const std::vector<TPhaseMark>& marks, TPhaseKind kind, const TSpan& end) {
  for (size_t m = 0; m < marks.size(); ++m) {
    if (marks[m].kind != kind) continue;
    const bool last = m + 1 == marks.size();
    return {marks[m].command, last ? end.to : marks[m + 1].command, marks[m].ms,
            last ? end.toMs : marks[m + 1].ms};
  }
  return {end.to, end.to, end.toMs, end.toMs};
}

// The verification's read-back: the verifying phase from its first read on (the settling
// pause before that reads nothing).
TSpan ReadBackSpan(const std::vector<TPhaseMark>& marks, const std::vector<TCommandRecord>& history,
                   const TSpan& end) {
  TSpan span = PhaseSpan(marks, TPhaseKind::Verifying, end);
  while (span.from < span.to && history[span.from].kind != TCommandKind::ReadMemory) ++span.from;
  if (span.from < span.to) span.fromMs = history[span.from].timeMs;
  return span;
}

// aspi: 0 pass-through, 1 the ASPI-style transport; backup: 1 kept, 0 --no-backup;
// normal: 0 the default drive (full-bank transfers), 1 the normal-mode drive.
void BM_WholeRunAndItsBackup(benchmark::State& state) {
  const bool aspi = state.range(0) != 0;
  const bool backUp = state.range(1) != 0;
  const char* profile = state.range(2) != 0 ? "normal-mode" : "default";
  TScratchFolder folder, recordings;
  if (folder.Path().empty() || recordings.Path().empty()) {
    state.SkipWithError("no temporary folder");
    return;
  }
  tavo::TBackupKeeper keeper(folder.Path(), backUp ? "" : tavo::kNoBackupReason);
  TDriveWork run, backup, readBack;
  uintmax_t kept = 0, recorded = 0;
  double recordingCpuMs = 0;
  bool verified = true;
  for (auto _ : state) {
    tavo::test::TVirtualRig rig;
    rig.Attach({*tavo::FindProfile(profile)}, aspi);
    TPhaseMarks port(rig);
    rig.engine = std::make_unique<tavo::TFlashEngine>(rig.state, *rig.atapi, tavo::EmbeddedImage(),
                                                      port, rig.clock);
    tavo::test::TConfirmingHooks hooks;
    tavo::RunStartup(*rig.engine, rig.state, port, hooks);
    rig.ClearHistories();
    port.marks.clear();
    rig.engine->SetBackupStore(&keeper);
    const uint64_t startMs = rig.clock.NowMs();
    rig.engine->BitBtn2Click();
    const double recordingFrom = ThreadCpuMs();
    std::string error;
    if (!rig.session->Flight().StartFile(recordings.Path() + "/run.log", error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    rig.session->Flight().EndFile();
    recordingCpuMs += ThreadCpuMs() - recordingFrom;

    state.PauseTiming();
    const std::vector<TCommandRecord>& history = rig.bus->Drive(0).History();
    const TSpan whole{0, history.size(), startMs, rig.clock.NowMs()};
    verified = verified && rig.engine->LastRunVerified();
    run = Work(history, whole);
    backup = Work(history, PhaseSpan(port.marks, TPhaseKind::BackingUp, whole));
    readBack = Work(history, ReadBackSpan(port.marks, history, whole));
    kept = folder.TakeBytes();
    recorded = recordings.TakeBytes();
    state.ResumeTiming();
    rig.engine.reset();  // before the port it reports to
  }
  if (!verified) state.SkipWithError("a run was not verified");
  state.counters["run_virtual_s"] = run.virtualMs / 1000;
  state.counters["run_commands"] = run.commands;
  state.counters["run_reads"] = run.reads;
  state.counters["backup_virtual_s"] = backup.virtualMs / 1000;
  state.counters["backup_reads"] = backup.reads;
  state.counters["verify_read_virtual_s"] = readBack.virtualMs / 1000;
  state.counters["verify_reads"] = readBack.reads;
  state.counters["kept_bytes"] = static_cast<double>(kept);
  state.counters["recording_bytes"] = static_cast<double>(recorded);
  // Of the processor time per run, what writing the recording file took.
  state.counters["recording_cpu_ms"] =
      benchmark::Counter(recordingCpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WholeRunAndItsBackup)
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->ArgNames({"aspi", "backup", "normal"})
    ->Unit(benchmark::kMillisecond);

// The keeper's share of a run: the container packed, both digests, the container and the
// manifest written and flushed to disk (real time; the processor time is the program's).
void BM_KeepOneBackup(benchmark::State& state) {
  TScratchFolder folder;
  tavo::test::TVirtualRig rig;
  rig.Attach({*tavo::FindProfile("default")});
  rig.StartUp();
  tavo::test::TMemoryBackupStore memory;
  rig.engine->SetBackupStore(&memory);
  rig.engine->BitBtn2Click();
  if (folder.Path().empty() || memory.kept.size() != 1) {
    state.SkipWithError("no backup to keep");
    return;
  }
  tavo::TBackupKeeper keeper(folder.Path(), "");
  uintmax_t kept = 0;
  for (auto _ : state) {
    std::string where;
    if (!keeper.Keep(memory.kept[0], where)) {
      state.SkipWithError(where.c_str());
      break;
    }
    state.PauseTiming();
    kept = folder.TakeBytes();
    state.ResumeTiming();
  }
  state.counters["kept_bytes"] = static_cast<double>(kept);
}
BENCHMARK(BM_KeepOneBackup)->Unit(benchmark::kMillisecond);

}  // namespace
