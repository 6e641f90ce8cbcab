// --history's order: newest first by each run's recorded start, with the clock-ahead rule
// the rotation of the logs keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "session/run_history.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;

TEST(RunHistoryOrder, ARunFromAClockThatWasAheadComesAfterTheRunsSinceItWasPutRight) {
  const fs::path dir = fs::path(::testing::TempDir()) / "run-history-order";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto write = [&dir](const std::string& name, const std::string& started,
                            const std::string& device) {
    std::ofstream(dir / name) << "TAVOFlash run, started " << started << "\ndevice: " << device
                              << "\n\noutcome: Verified\n";
  };
  // Written while the clock was years ahead; then the two runs since it was put right.
  write("run-20991231-235959-000.log", "2099-12-31 23:59:59.000", "/dev/sr9");
  write("run-20240501-120000-000.log", "2024-05-01 12:00:00.000", "/dev/sr0");
  write("run-20240502-120000-000.log", "2024-05-02 12:00:00.000", "/dev/sr1");
  std::vector<std::string> order;
  for (const TPastRun& run : ReadRunHistory(dir.string())) order.push_back(run.node);
  EXPECT_EQ(order, (std::vector<std::string>{"/dev/sr1", "/dev/sr0", "/dev/sr9"}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tavo
