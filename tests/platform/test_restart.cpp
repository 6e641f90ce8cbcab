// The restart request against the stand-in logind on a private dbus-daemon (never the
// machine's bus): the right service, object, interface and method, the interactive
// argument and permission for polkit to ask; a refusal reported; virtual drives never
// reaching the bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/inhibitor.h"
#include "platform/restart.h"
#include "tests/support/stand_in_bus.h"

namespace tavo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (bus_.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    // The system bus of this process is the private one.
    override_.emplace(bus_.Address());
  }
  void TearDown() override { override_.reset(); }
  TSystemRestarter::TReport Recording() {
    return {.log = [this](const std::string& line) { lines_.push_back(line); },
            .failure = [this](const std::string& why) { failures_.push_back(why); }};
  }

  test::TPrivateBus bus_;
  std::optional<test::TSystemBusOverride> override_;
  std::vector<std::string> lines_;
  std::vector<std::string> failures_;
};

TEST_F(RestartTest, LogindRebootIsRequestedInteractivelyWithOrWithoutWaiting) {
  test::TStandInServices logind(bus_.Address(), {});
  ASSERT_TRUE(logind.Ready());

  TSystemRestarter waiting(false, Recording());
  waiting.RequestReboot();  // returns once logind has answered
  std::vector<test::TStandInServices::TRebootCall> calls = logind.WaitForRebootCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].interactive);
  EXPECT_TRUE(calls[0].authorizationAllowed);
  EXPECT_THAT(failures_, IsEmpty());

  // The window's way: sent without waiting for the answer.
  TSystemRestarter sending(false, {.log = Recording().log, .failure = nullptr});
  sending.RequestReboot();
  calls = logind.WaitForRebootCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[1].interactive);
  EXPECT_TRUE(calls[1].authorizationAllowed);
  // Only the waiting request says that it waits.
  EXPECT_THAT(lines_, ElementsAre(TSystemRestarter::kWaitingLine));
}

TEST_F(RestartTest, RefusalIsReportedAndNothingElseIsLogged) {
  test::TStandInConfig refusing;
  refusing.refuseReboot = true;
  test::TStandInServices logind(bus_.Address(), refusing);
  ASSERT_TRUE(logind.Ready());
  TSystemRestarter restarter(false, Recording());
  restarter.RequestReboot();
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_THAT(failures_[0], HasSubstr("Not allowed here."));
  EXPECT_THAT(lines_, ElementsAre(TSystemRestarter::kWaitingLine));
}

TEST_F(RestartTest, AnotherProgramsShutdownBlockIsNamedAndNeverOverridden) {
  test::TStandInConfig config;
  config.inhibitors = {
      {"sleep:shutdown", "Disc\x1b[2J Burner", "Writing a disc", "block", 1000, 4242},
      {"sleep:idle", "Player", "Playing", "block", 1000, 4243},    // no shutdown
      {"shutdown", "Updater", "Saving state", "delay", 0, 4244}};  // only delays
  test::TStandInServices logind(bus_.Address(), config);
  ASSERT_TRUE(logind.Ready());
  for (const bool waits : {true, false}) {
    TSystemRestarter restarter(
        false, {.log = Recording().log, .failure = waits ? Recording().failure : nullptr});
    restarter.RequestReboot();
  }
  EXPECT_THAT(logind.RebootCalls(), IsEmpty());
  EXPECT_THAT(failures_, IsEmpty());
  const std::vector<std::string> refusal = {TSystemRestarter::kBlockedLine,
                                            "  Disc\\x1b[2J Burner (process 4242): Writing a disc",
                                            TSystemRestarter::kRestartLaterLine};
  std::vector<std::string> twice = refusal;
  twice.insert(twice.end(), refusal.begin(), refusal.end());
  EXPECT_EQ(lines_, twice);
}

TEST_F(RestartTest, TheProgramsOwnShutdownBlockDoesNotStopTheRestart) {
  test::TStandInServices logind(bus_.Address(), {});
  ASSERT_TRUE(logind.Ready());
  TInhibitor own;
  ASSERT_EQ(own.Take("flashing"), "");
  TSystemRestarter restarter(false, Recording());
  restarter.RequestReboot();
  EXPECT_EQ(logind.RebootCalls().size(), 1u);
  EXPECT_THAT(failures_, IsEmpty());
}

TEST_F(RestartTest, NoLogindOnTheBusIsAFailureNotAHang) {
  TSystemRestarter restarter(false, Recording());
  restarter.RequestReboot();
  EXPECT_EQ(failures_.size(), 1u);
}

TEST_F(RestartTest, VirtualDrivesNeverReachTheBusAndLogOneLine) {
  test::TStandInServices logind(bus_.Address(), {});
  ASSERT_TRUE(logind.Ready());
  TSystemRestarter restarter(true, Recording());
  restarter.RequestReboot();
  EXPECT_THAT(lines_, ElementsAre(TSystemRestarter::kVirtualDrivesLine));
  EXPECT_THAT(failures_, IsEmpty());
  // A real request after it is the first call logind sees.
  TSystemRestarter real(false, Recording());
  real.RequestReboot();
  EXPECT_EQ(logind.WaitForRebootCalls(1).size(), 1u);
}

}  // namespace
}  // namespace tavo
