// The restart request against a stand-in logind on a private dbus-daemon (never the
// machine's bus): the right service, object, interface and method, the interactive
// argument and permission for polkit to ask; a refusal reported; virtual drives never
// reaching the bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/restart.h"
#include "tests/support/stand_in_bus.h"

namespace tavo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// org.freedesktop.login1.Manager.Reboot on its own connection and thread; records each
// call and answers it, or refuses it when told.
class TStandInLogind {
 public:
  struct TCall {
    bool interactive;
    bool authorizationAllowed;
  };

  TStandInLogind(const std::string& address, bool refuse) : refuse_(refuse) {
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
        sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kVtable, this) < 0 ||
        sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0) {
      return;
    }
    ready_ = true;
    thread_ = std::thread([this] {
      while (!stop_) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r == 0) sd_bus_wait(bus_, 50'000);  // microseconds; woken by any message
        if (r < 0) break;
      }
    });
  }
  ~TStandInLogind() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  bool Ready() const { return ready_; }

  // The calls received once n have arrived, or what arrived within ten seconds.
  std::vector<TCall> WaitForCalls(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_.size() >= n; });
    return calls_;
  }

 private:
  static int Reboot(sd_bus_message* m, void* self, sd_bus_error* /*error*/) {
    auto* logind = static_cast<TStandInLogind*>(self);
    int interactive = 0;
    if (sd_bus_message_read(m, "b", &interactive) < 0) return -EINVAL;
    {
      std::lock_guard<std::mutex> lock(logind->mutex_);
      logind->calls_.push_back(
          {interactive != 0, sd_bus_message_get_allow_interactive_authorization(m) > 0});
    }
    logind->arrived_.notify_all();
    if (logind->refuse_) {
      return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_ACCESS_DENIED, "Not allowed here.");
    }
    return sd_bus_reply_method_return(m, "");
  }

  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Reboot", "b", "", &TStandInLogind::Reboot, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };

  sd_bus* bus_ = nullptr;
  bool refuse_;
  bool ready_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<TCall> calls_;
};

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
  TStandInLogind logind(bus_.Address(), /*refuse=*/false);
  ASSERT_TRUE(logind.Ready());

  TSystemRestarter waiting(false, Recording());
  waiting.RequestReboot();  // returns once logind has answered
  std::vector<TStandInLogind::TCall> calls = logind.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].interactive);
  EXPECT_TRUE(calls[0].authorizationAllowed);
  EXPECT_THAT(failures_, IsEmpty());

  // The window's way: sent without waiting for the answer.
  TSystemRestarter sending(false, {.log = Recording().log, .failure = nullptr});
  sending.RequestReboot();
  calls = logind.WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[1].interactive);
  EXPECT_TRUE(calls[1].authorizationAllowed);
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(RestartTest, RefusalIsReportedAndNothingIsLogged) {
  TStandInLogind logind(bus_.Address(), /*refuse=*/true);
  ASSERT_TRUE(logind.Ready());
  TSystemRestarter restarter(false, Recording());
  restarter.RequestReboot();
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_THAT(failures_[0], HasSubstr("Not allowed here."));
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(RestartTest, NoLogindOnTheBusIsAFailureNotAHang) {
  TSystemRestarter restarter(false, Recording());
  restarter.RequestReboot();
  EXPECT_EQ(failures_.size(), 1u);
}

TEST_F(RestartTest, VirtualDrivesNeverReachTheBusAndLogOneLine) {
  TStandInLogind logind(bus_.Address(), /*refuse=*/false);
  ASSERT_TRUE(logind.Ready());
  TSystemRestarter restarter(true, Recording());
  restarter.RequestReboot();
  EXPECT_THAT(lines_, ElementsAre(TSystemRestarter::kVirtualDrivesLine));
  EXPECT_THAT(failures_, IsEmpty());
  // A real request after it is the first call logind sees.
  TSystemRestarter real(false, Recording());
  real.RequestReboot();
  EXPECT_EQ(logind.WaitForCalls(1).size(), 1u);
}

}  // namespace
}  // namespace tavo
