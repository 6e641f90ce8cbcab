// A run's system services when the bus is there but never answers (a hung dbus-daemon):
// each gives up at its deadline instead of sd-bus's 25 s per call, or never. And the
// exclusive hold opens the drive for writing, the only open that stops the kernel's media
// polling.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/drive_lock.h"
#include "platform/inhibitor.h"
#include "platform/power.h"

namespace tavo {
namespace {

// A Unix socket that takes connections into its backlog and never says a word.
class TSilentBus {
 public:
  TSilentBus() {
    char dir[] = "/tmp/tavo-silent-bus-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    const std::string path = dir_ + "/bus";
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 16) != 0) {
      return;
    }
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (old != nullptr) saved_ = old;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
    ready_ = true;
  }
  ~TSilentBus() {
    if (saved_.empty()) {
      unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    } else {
      setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_.c_str(), 1);
    }
    if (fd_ >= 0) close(fd_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool Ready() const { return ready_; }

 private:
  int fd_ = -1;
  std::string dir_;
  std::string saved_;
  bool ready_ = false;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(SilentBus, TheInhibitorAndThePowerCheckGiveUpAtTheirDeadline) {
  TSilentBus bus;
  ASSERT_TRUE(bus.Ready());
  constexpr uint64_t kDeadlineUsec = 300'000;
  // Well below sd-bus's own 25 s: a check that the deadline covers the handshake too.
  constexpr double kBoundSec = 5.0;

  auto start = std::chrono::steady_clock::now();
  TInhibitor inhibitor;
  const std::string failure = inhibitor.Take("test", kDeadlineUsec);
  EXPECT_LT(SecondsSince(start), kBoundSec);
  EXPECT_EQ(failure, "logind did not answer in time");
  EXPECT_FALSE(inhibitor.Held());

  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ReadPowerState(kDeadlineUsec).has_value());
  EXPECT_LT(SecondsSince(start), kBoundSec);
}

TEST(ExclusiveHold, OpensTheDeviceForWriting) {
  char path[] = "/tmp/tavo-hold-XXXXXX";
  const int made = mkstemp(path);
  ASSERT_GE(made, 0);
  close(made);
  TExclusiveDevice hold;
  ASSERT_EQ(hold.Open(path), 0);
  // Find the hold's descriptor and read the mode it was opened with.
  int accessMode = -1;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    std::string value;
    while (info >> key >> value) {
      if (key == "flags:") accessMode = static_cast<int>(std::stoi(value, nullptr, 8) & O_ACCMODE);
    }
  }
  hold.Close();
  unlink(path);
  EXPECT_EQ(accessMode, O_RDWR);
}

}  // namespace
}  // namespace tavo
