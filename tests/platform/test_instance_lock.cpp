// The single-instance guard between real processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/instance_lock.h"

namespace tavo {
namespace {

// Tries the lock in a separate process; returns what Acquire said there.
bool AcquireInChild(const std::string& path) {
  const pid_t pid = fork();
  if (pid == 0) {
    TInstanceLock lock;
    _exit(lock.Acquire(path) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A fresh directory, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir() {
    char name[] = "/tmp/tavo-lock-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST(InstanceLock, PathFollowsTheRuntimeDirectory) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  EXPECT_EQ(InstanceLockPath(), "/run/user/4242/MyAPP");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockPath(), "/tmp/MyAPP-" + std::to_string(getuid()));
  if (saved != nullptr) setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

TEST(InstanceLock, SecondProcessIsRefusedUntilTheFirstEnds) {
  TTempDir dir;
  const std::string path = dir.File("MyAPP");
  {
    TInstanceLock first;
    ASSERT_TRUE(first.Acquire(path));
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(AcquireInChild(path));
  }
  EXPECT_TRUE(AcquireInChild(path));
}

TEST(InstanceLock, LockFileOfAnotherUserDoesNotBlockTheProgram) {
  // Someone else's file, locked by them: the program runs, guarded by the abstract socket
  // instead, so a second process is still refused.
  TTempDir dir;
  const std::string path = dir.File("MyAPP");
  const int theirs = open(path.c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(theirs, 0);
  const uid_t other = geteuid() == 65534 ? 65533 : 65534;
  if (fchown(theirs, other, other) != 0) {
    close(theirs);
    GTEST_SKIP() << "cannot hand a file to another user here";
  }
  ASSERT_EQ(flock(theirs, LOCK_EX | LOCK_NB), 0);
  TInstanceLock lock;
  EXPECT_TRUE(lock.Acquire(path));
  EXPECT_TRUE(lock.Held());
  EXPECT_FALSE(AcquireInChild(path));
  close(theirs);
}

TEST(InstanceLock, UnusableLockFileFallsBackToAGuardThatStillRefuses) {
  const std::string path = "/nonexistent-tavo-dir/MyAPP";
  TInstanceLock first;
  ASSERT_TRUE(first.Acquire(path));
  EXPECT_TRUE(first.Held());
  EXPECT_FALSE(AcquireInChild(path));
}

// Binds an abstract name (listening or not), as any user's process can.
int BindName(const std::string& name, bool listening) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) return -1;
  if (listening && listen(fd, 4) != 0) return -1;
  return fd;
}

TEST(InstanceLock, AnotherUserHoldingTheGuardsNamesIsNoSecondInstance) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Another user's process holds the name every user's program once used, and the one
  // that carries this user's uid (bound without listening, so nobody can ask it).
  const std::string path = "/nonexistent-tavo-dir/MyAPP-held-by-another-user";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t squatter = fork();
  if (squatter == 0) {
    close(ready[0]);
    if (setresuid(65534, 65534, 65534) != 0) _exit(1);
    const int shared = BindName("tavoflash-instance:" + path, true);
    const int ours = BindName("tavoflash-instance:0:" + path, false);
    const char ok = shared >= 0 && ours >= 0 ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  EXPECT_EQ(ok, 'y');
  {
    TInstanceLock first;
    EXPECT_TRUE(first.Acquire(path));  // before: ended as if it were a second instance
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(AcquireInChild(path));  // this user's second start is still refused
  }
  kill(squatter, SIGKILL);
  waitpid(squatter, nullptr, 0);
}

}  // namespace
}  // namespace tavo
