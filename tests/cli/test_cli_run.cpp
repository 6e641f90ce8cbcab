// The terminal's guarded run on virtual drives and a virtual clock, with stand-in logind
// and UPower on a private bus: the inhibitor spans the run, and a drive another program
// holds or a nearly empty battery refuses the run before anything is sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "cli/cli_startup.h"
#include "platform/drive_lock.h"
#include "tests/support/stand_in_bus.h"
#include "tests/support/virtual_rig.h"

namespace tavo {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class GuardedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (bus_.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    char name[] = "/tmp/tavo-locks-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    lockDir_ = name;
    setenv("TAVOFLASH_LOCK_DIR", lockDir_.c_str(), 1);
    rig_.Attach({*FindProfile("default")});
    rig_.StartUp();
  }
  void TearDown() override {
    unsetenv("TAVOFLASH_LOCK_DIR");
    if (!lockDir_.empty()) std::filesystem::remove_all(lockDir_);
  }
  int Run() { return RunGuardedFlash(*rig_.engine, rig_.state, *rig_.atapi, rig_.ui); }

  test::TPrivateBus bus_;
  test::TSystemBusOverride systemBus_{bus_.Address()};
  std::string lockDir_;
  test::TVirtualRig rig_;
};

TEST_F(GuardedRunTest, InhibitorSpansTheRunFromBeforeTheFirstCommand) {
  test::TStandInServices services(bus_.Address(), {});
  ASSERT_TRUE(services.Ready());
  size_t commandsAtInhibit = 99;
  services.onInhibit = [&] { commandsAtInhibit = rig_.Kinds().size(); };
  bool heldAtRevisionRead = false;
  bool releasedBeforeOutcome = false;
  TGuardedRunSteps steps;
  steps.whileHeld = [&] { heldAtRevisionRead = services.LockHeld(); };
  steps.afterRelease = [&] { releasedBeforeOutcome = !services.LockHeld(); };

  EXPECT_EQ(RunGuardedFlash(*rig_.engine, rig_.state, *rig_.atapi, rig_.ui, steps), kExitVerified);

  EXPECT_EQ(commandsAtInhibit, 0u);
  EXPECT_FALSE(rig_.Kinds().empty());
  EXPECT_TRUE(heldAtRevisionRead);
  EXPECT_TRUE(releasedBeforeOutcome);
  EXPECT_FALSE(services.LockHeld());  // released once the run ended
  // The restart question is not part of the guarded run.
  EXPECT_THAT(rig_.ui.EventsStarting("ask"), IsEmpty());
  const auto calls = services.InhibitCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].what,
            "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
            "handle-lid-switch");
  EXPECT_EQ(calls[0].who, "TAVOFlash");
  EXPECT_EQ(calls[0].mode, "block");
  EXPECT_THAT(calls[0].why, HasSubstr("emulated:sr0"));
  EXPECT_THAT(rig_.ui.logs, Not(Contains(HasSubstr("not blocked"))));
}

TEST_F(GuardedRunTest, FailedRunReleasesTheInhibitorToo) {
  test::TStandInServices services(bus_.Address(), {});
  ASSERT_TRUE(services.Ready());
  rig_.Attach({*FindProfile("bad-verify")});
  rig_.StartUp();
  EXPECT_EQ(Run(), kExitWrittenUnverified);
  EXPECT_EQ(services.InhibitCalls().size(), 1u);
  EXPECT_FALSE(services.LockHeld());
}

TEST_F(GuardedRunTest, WithoutLogindOneLineAndTheRunGoesOn) {
  EXPECT_EQ(Run(), kExitVerified);
  int lines = 0;
  for (const std::string& line : rig_.ui.logs) {
    lines += line.rfind("Shutdown and sleep are not blocked: ", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(lines, 1);
}

TEST_F(GuardedRunTest, DriveHeldByAnotherProgramIsRefusedBeforeAnythingIsSent) {
  test::TStandInServices services(bus_.Address(), {});
  ASSERT_TRUE(services.Ready());
  TDriveLock other;  // the lock as another program holds it
  ASSERT_EQ(other.Acquire("emulated:sr0"), TDriveLockResult::Taken);

  EXPECT_EQ(Run(), kExitRefused);
  EXPECT_THAT(rig_.ui.logs, ElementsAre("Err:emulated:sr0 is being flashed by another program.",
                                        "Wait until that run ends, then start again."));
  EXPECT_THAT(rig_.Kinds(), IsEmpty());
  EXPECT_THAT(services.InhibitCalls(), IsEmpty());

  other.Release();
  EXPECT_EQ(Run(), kExitVerified);  // free again: the next run goes ahead
}

TEST_F(GuardedRunTest, SomethingElseAtTheLockPathRefusesTheRunNamingIt) {
  const std::string path = lockDir_ + "/tavoflash-emulated_sr0.lock";
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(Run(), kExitRefused);
  ASSERT_EQ(rig_.ui.logs.size(), 2u);
  EXPECT_THAT(rig_.ui.logs[0], HasSubstr("Err:The drive lock " + path +
                                         " cannot be used: it is "
                                         "a FIFO of "));
  EXPECT_THAT(rig_.Kinds(), IsEmpty());
}

TEST_F(GuardedRunTest, BatteryBelowAQuarterRefusesAboveWarns) {
  {
    test::TStandInServices low(bus_.Address(), {.onBattery = true, .percentage = 18.0});
    ASSERT_TRUE(low.Ready());
    EXPECT_EQ(Run(), kExitRefused);
    EXPECT_THAT(rig_.ui.logs,
                ElementsAre("Err:Battery at 18%: connect the computer to mains power."));
    EXPECT_THAT(rig_.Kinds(), IsEmpty());
    EXPECT_THAT(low.InhibitCalls(), IsEmpty());
  }
  rig_.ui.Clear();
  {
    test::TStandInServices high(bus_.Address(), {.onBattery = true, .percentage = 64.0});
    ASSERT_TRUE(high.Ready());
    EXPECT_EQ(Run(), kExitVerified);
    EXPECT_EQ(rig_.ui.logs.front(), "Warning: running on battery (64%); mains power is safer.");
  }
  rig_.ui.Clear();
  {
    test::TStandInServices mains(bus_.Address(), {.onBattery = false, .percentage = 3.0});
    ASSERT_TRUE(mains.Ready());
    EXPECT_EQ(Run(), kExitVerified);
    EXPECT_THAT(rig_.ui.logs, Not(Contains(HasSubstr("battery"))));
  }
}

}  // namespace
}  // namespace tavo
