// The platform pieces that keep a run whole: deferred terminating signals, the per-drive
// lock between processes and what it refuses (the exclusive hold of /dev/srN is tested on a real
// kernel).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/drive_lock.h"
#include "platform/shared_dirs.h"
#include "platform/signal_deferral.h"

namespace tavo {
namespace {

std::string ReadAll(int fd) {
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
  return out;
}

TEST(SignalDeferral, SignalsWaitNoticeOnceThenTheProgramEndsWithTheFirst) {
  int notice[2];
  ASSERT_EQ(pipe2(notice, O_NONBLOCK), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(notice[0]);
    int caught = 0;
    {
      TSignalDeferral deferral(notice[1], "wait\n");
      if (!deferral.Active()) _exit(3);
      raise(SIGTERM);
      raise(SIGINT);
      raise(SIGHUP);
      raise(SIGQUIT);
      if (deferral.TakeArrivals() != 4) _exit(4);
      caught = deferral.Caught();
    }
    if (caught != SIGTERM) _exit(5);
    EndBySignal(caught);
  }
  close(notice[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(ReadAll(notice[0]), "wait\n");
  close(notice[0]);
}

TEST(SignalDeferral, OutsideARunAndForIgnoredSignalsNothingChanges) {
  struct sigaction before {};
  sigaction(SIGTERM, nullptr, &before);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction savedHup {};
  sigaction(SIGHUP, &ignore, &savedHup);
  {
    TSignalDeferral deferral;
    ASSERT_TRUE(deferral.Active());
    raise(SIGHUP);  // ignored before the run: stays ignored, never re-raised afterwards
    EXPECT_EQ(deferral.Caught(), 0);
    TSignalDeferral second;  // one at a time
    EXPECT_FALSE(second.Active());
  }
  struct sigaction after {};
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  sigaction(SIGHUP, &savedHup, nullptr);
}

class DriveLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeDir();
    second_ = MakeDir();
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    std::filesystem::remove_all(second_);
  }
  static std::string MakeDir() {
    char name[] = "/tmp/tavo-drive-lock-XXXXXX";
    return mkdtemp(name) != nullptr ? name : "";
  }
  // What Acquire said in a separate process, run as uid when given. A process that is
  // still in Acquire after 20 s (a lock file that blocks open()) ends by SIGALRM, which
  // reads as -1.
  int AcquireInChild(const std::string& device, std::vector<std::string> dirs = {}, uid_t uid = 0) {
    if (dirs.empty()) dirs = {dir_};
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(20);
      if (uid != 0 && setresuid(uid, uid, uid) != 0) _exit(100);
      TDriveLock lock;
      _exit(static_cast<int>(dirs == std::vector<std::string>{"-"} ? lock.Acquire(device)
                                                                   : lock.Acquire(device, dirs)));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string dir_;
  std::string second_;
};

constexpr int kTaken = static_cast<int>(TDriveLockResult::Taken);
constexpr int kBusy = static_cast<int>(TDriveLockResult::Busy);
constexpr int kRefused = static_cast<int>(TDriveLockResult::Refused);

// Sets an environment variable for the life of the object.
class TEnv {
 public:
  TEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~TEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST_F(DriveLockTest, FileIsNamedAfterTheDevice) {
  EXPECT_EQ(DriveLockFileName("/dev/sr0"), "tavoflash-sr0.lock");
  EXPECT_EQ(DriveLockFileName("emulated:sr1"), "tavoflash-emulated_sr1.lock");
  EXPECT_EQ(DriveLockFileName("/dev/../etc/x"), "tavoflash-_.._etc_x.lock");
  EXPECT_EQ(DriveLockFileName(".."), "tavoflash-_...lock");
}

TEST_F(DriveLockTest, SecondProcessOnTheSameDriveIsRefusedAnotherDriveIsNot) {
  const mode_t saved = umask(077);  // the file is readable by everyone all the same
  TDriveLock lock;
  ASSERT_EQ(lock.Acquire("/dev/sr0", {dir_}), TDriveLockResult::Taken);
  umask(saved);
  EXPECT_EQ(AcquireInChild("/dev/sr0"), kBusy);
  EXPECT_EQ(AcquireInChild("/dev/sr1"), kTaken);
  struct stat st {};
  ASSERT_EQ(stat(lock.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // other users can open it to take the lock
  lock.Release();
  EXPECT_EQ(AcquireInChild("/dev/sr0"), kTaken);
  // Nothing but the lock files is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

TEST_F(DriveLockTest, GoesOnToTheNextDirectoryOnlyWhenOneIsMissing) {
  TDriveLock lock;
  EXPECT_EQ(lock.Acquire("/dev/sr0", {"/nonexistent-tavo", dir_}), TDriveLockResult::Taken);
  EXPECT_EQ(lock.Path(), dir_ + "/tavoflash-sr0.lock");
  lock.Release();
  EXPECT_EQ(lock.Acquire("/dev/sr0", {dir_ + "/tavoflash-sr0.lock", second_}),
            TDriveLockResult::Taken);  // a file where a directory should be
  EXPECT_EQ(lock.Path(), second_ + "/tavoflash-sr0.lock");
}

TEST_F(DriveLockTest, WhatIsNoLockFileStopsTheRunWhereItIs) {
  // Planted in the first directory: a link, a FIFO (whose open would wait for a writer),
  // a folder. Each is refused with what it is and whose; none sends the program on to the
  // second directory, where another program would take a second lock on the same drive.
  const std::string link = dir_ + "/tavoflash-sr1.lock";
  ASSERT_EQ(symlink((dir_ + "/target").c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo((dir_ + "/tavoflash-sr2.lock").c_str(), 0644), 0);
  ASSERT_EQ(mkdir((dir_ + "/tavoflash-sr3.lock").c_str(), 0755), 0);
  const std::string kinds[] = {"a symbolic link", "a FIFO", "a folder"};
  for (int n = 1; n <= 3; ++n) {
    const std::string device = "/dev/sr" + std::to_string(n);
    EXPECT_EQ(AcquireInChild(device, {dir_, second_}), kRefused) << device;
    TDriveLock lock;
    ASSERT_EQ(lock.Acquire(device, {dir_, second_}), TDriveLockResult::Refused);
    EXPECT_EQ(lock.Path(), dir_ + "/" + DriveLockFileName(device));
    EXPECT_EQ(lock.Reason(),
              "it is " + kinds[n - 1] + " of " + UserText(geteuid()) + ", not a lock file");
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/target"));
  EXPECT_TRUE(std::filesystem::is_empty(second_));
}

TEST_F(DriveLockTest, AnotherUsersFilesAreUsedWhenTheyCanBeAndRefusedWhenNot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  const uid_t them = 65534;
  const uid_t us = 65533;
  ASSERT_EQ(chmod(dir_.c_str(), 01777), 0);  // like /tmp and /run/lock
  const auto plant = [&](const std::string& device, mode_t mode, bool fifo) {
    const std::string path = dir_ + "/" + DriveLockFileName(device);
    ASSERT_EQ(fifo ? mkfifo(path.c_str(), mode) : close(open(path.c_str(), O_CREAT, mode)), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_EQ(chown(path.c_str(), them, them), 0);
  };
  plant("/dev/sr0", 0644, false);  // their lock file of an earlier run: shared
  plant("/dev/sr1", 0600, false);  // one we may not open
  plant("/dev/sr2", 0644, true);   // a FIFO we may only read: open() would wait forever
  EXPECT_EQ(AcquireInChild("/dev/sr0", {dir_, second_}, us), kTaken);
  EXPECT_EQ(AcquireInChild("/dev/sr1", {dir_, second_}, us), kRefused);
  EXPECT_EQ(AcquireInChild("/dev/sr2", {dir_, second_}, us), kRefused);
  EXPECT_TRUE(std::filesystem::is_empty(second_));
  TDriveLock lock;
  EXPECT_EQ(lock.Acquire("/dev/sr2", {dir_}), TDriveLockResult::Refused);
  EXPECT_EQ(lock.Reason(), "it is a FIFO of " + UserText(them) + ", not a lock file");
}

TEST_F(DriveLockTest, VirtualDrivesAreLockedInTheUsersOwnRuntimeDirectory) {
  // Each user's virtual drive exists only inside that user's program: two users' demos
  // never meet, while two programs of one user on one virtual drive still do.
  const TEnv noOwnDir("TAVOFLASH_LOCK_DIR", nullptr);
  const TEnv runtime("XDG_RUNTIME_DIR", dir_.c_str());
  for (const std::string device : {"emulated:sr0", "replay:sr0"}) {
    TDriveLock lock;
    ASSERT_EQ(lock.Acquire(device), TDriveLockResult::Taken) << lock.Reason();
    EXPECT_EQ(lock.Path(), dir_ + "/" + DriveLockFileName(device));
    EXPECT_EQ(AcquireInChild(device, {"-"}), kBusy);
    {
      const TEnv otherUser("XDG_RUNTIME_DIR", second_.c_str());
      EXPECT_EQ(AcquireInChild(device, {"-"}), kTaken);
    }
  }
  EXPECT_EQ(DriveLockDirectories(), (std::vector<std::string>{"/run/lock", "/tmp"}));
  const TEnv ownDir("TAVOFLASH_LOCK_DIR", second_.c_str());  // still wins for every drive
  TDriveLock lock;
  ASSERT_EQ(lock.Acquire("emulated:sr1"), TDriveLockResult::Taken);
  EXPECT_EQ(lock.Path(), second_ + "/tavoflash-emulated_sr1.lock");
}

TEST_F(DriveLockTest, ThePrivateDirectoryIsThisUsersOrRefused) {
  std::string error;
  const std::string mine = PrivateDirectory(dir_, error);
  ASSERT_EQ(mine, dir_ + "/tavoflash-" + std::to_string(geteuid())) << error;
  ASSERT_EQ(chmod(mine.c_str(), 0777), 0);
  EXPECT_EQ(PrivateDirectory(dir_, error), mine);
  struct stat st {};
  ASSERT_EQ(stat(mine.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Planted by someone else before this user came: a link, or a folder of theirs.
  const std::string planted = second_ + "/tavoflash-" + std::to_string(geteuid());
  ASSERT_EQ(symlink(mine.c_str(), planted.c_str()), 0);
  EXPECT_EQ(PrivateDirectory(second_, error), "");
  EXPECT_EQ(error, planted + " is a symbolic link of " + UserText(geteuid()) +
                       ", not a private folder of this user");
  if (geteuid() != 0) return;
  ASSERT_EQ(unlink(planted.c_str()), 0);
  ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
  ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
  EXPECT_EQ(PrivateDirectory(second_, error), "");
  EXPECT_NE(error.find("of " + UserText(65534)), std::string::npos) << error;
}

}  // namespace
}  // namespace tavo
