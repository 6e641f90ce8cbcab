// What the flight recorder costs a run: a whole verified run on a virtual drive (virtual
// clock, so only the program's own work is timed) with its recording in memory, and the
// writing of that recording as the compressed file beside the run log. The counters give
// the recording's size per run, raw and compressed.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/archive_input.h"
#include "session/flight_recorder.h"
#include "tests/support/virtual_rig.h"

namespace {

namespace fs = std::filesystem;

// One whole default run through the programs' drive session, which records it in memory.
void RunOnce(tavo::test::TVirtualRig& rig, bool aspi) {
  rig.Attach({*tavo::FindProfile("default")}, aspi);
  rig.StartUp();
  rig.engine->BitBtn2Click();
}

void BM_WholeRunRecordedInMemory(benchmark::State& state) {
  for (auto _ : state) {
    tavo::test::TVirtualRig rig;
    RunOnce(rig, state.range(0) != 0);
    benchmark::DoNotOptimize(rig.engine->LastRunVerified());
  }
}
BENCHMARK(BM_WholeRunRecordedInMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The file a run leaves: every line so far written and flushed line by line.
void BM_FlightFileOfAWholeRun(benchmark::State& state) {
  char pattern[] = "/tmp/tavo-bench-flight-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const fs::path dir = pattern;
  tavo::test::TVirtualRig rig;
  RunOnce(rig, state.range(0) != 0);
  tavo::TFlightRecorder& flight = rig.session->Flight();
  int n = 0;
  std::uintmax_t compressed = 0;
  size_t raw = 0;
  for (auto _ : state) {
    std::string error;
    const std::string log = (dir / ("run-" + std::to_string(n++) + ".log")).string();
    if (!flight.StartFile(log, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    flight.EndFile();
    state.PauseTiming();
    compressed = fs::file_size(flight.Path());
    // The same lines uncompressed, as --record writes them.
    std::string why;
    raw = tavo::ReadCompressedText(flight.Path(), ".jsonl", size_t{1} << 30, why)
              .value_or(std::string())
              .size();
    fs::remove(flight.Path());
    state.ResumeTiming();
  }
  state.counters["compressed_bytes"] = static_cast<double>(compressed);
  state.counters["raw_bytes"] = static_cast<double>(raw);
  fs::remove_all(dir);
}
BENCHMARK(BM_FlightFileOfAWholeRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
