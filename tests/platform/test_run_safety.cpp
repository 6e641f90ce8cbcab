// The platform pieces that keep a run whole: deferred terminating signals, the per-drive
// lock between processes (the exclusive hold of /dev/srN is tested on a real kernel).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/drive_lock.h"
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
    char name[] = "/tmp/tavo-drive-lock-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // What Acquire said in a separate process.
  TDriveLockResult AcquireInChild(const std::string& device) {
    const pid_t pid = fork();
    if (pid == 0) {
      TDriveLock lock;
      _exit(static_cast<int>(lock.Acquire(device, {dir_})));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return static_cast<TDriveLockResult>(WEXITSTATUS(status));
  }
  std::string dir_;
};

TEST_F(DriveLockTest, FileIsNamedAfterTheDevice) {
  EXPECT_EQ(DriveLockFileName("/dev/sr0"), "tavoflash-sr0.lock");
  EXPECT_EQ(DriveLockFileName("emulated:sr1"), "tavoflash-emulated_sr1.lock");
  EXPECT_EQ(DriveLockFileName("/dev/../etc/x"), "tavoflash-_.._etc_x.lock");
  EXPECT_EQ(DriveLockFileName(".."), "tavoflash-_...lock");
}

TEST_F(DriveLockTest, SecondProcessOnTheSameDriveIsRefusedAnotherDriveIsNot) {
  TDriveLock lock;
  ASSERT_EQ(lock.Acquire("/dev/sr0", {dir_}), TDriveLockResult::Taken);
  EXPECT_EQ(AcquireInChild("/dev/sr0"), TDriveLockResult::Busy);
  EXPECT_EQ(AcquireInChild("/dev/sr1"), TDriveLockResult::Taken);
  struct stat st {};
  ASSERT_EQ(stat(lock.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // other users can open it to take the lock
  lock.Release();
  EXPECT_EQ(AcquireInChild("/dev/sr0"), TDriveLockResult::Taken);
}

TEST_F(DriveLockTest, FallsBackToTheNextDirectoryAndNeverFollowsALink) {
  TDriveLock lock;
  EXPECT_EQ(lock.Acquire("/dev/sr0", {"/nonexistent-tavo", dir_}), TDriveLockResult::Taken);
  EXPECT_EQ(lock.Path(), dir_ + "/tavoflash-sr0.lock");
  lock.Release();
  const std::string planted = dir_ + "/tavoflash-sr1.lock";
  ASSERT_EQ(symlink((dir_ + "/target").c_str(), planted.c_str()), 0);
  EXPECT_EQ(lock.Acquire("/dev/sr1", {dir_}), TDriveLockResult::Unavailable);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/target"));
}

}  // namespace
}  // namespace tavo
