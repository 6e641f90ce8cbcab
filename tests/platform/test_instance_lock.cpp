// The single-instance guard between real processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
}  // namespace tavo
