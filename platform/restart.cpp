#include "platform/restart.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/inhibitor.h"
#include "platform/system_bus.h"

namespace tavo {

namespace {

constexpr char kService[] = "org.freedesktop.login1";
constexpr char kObject[] = "/org/freedesktop/login1";
constexpr char kInterface[] = "org.freedesktop.login1.Manager";
constexpr char kMethod[] = "Reboot";

// How long the request that is not answered may take to leave.
constexpr uint64_t kSendTimeoutUsec = 3'000'000;

std::string ErrnoText(const char* what, int negativeErrno) {
  return std::string(what) + ": " + std::strerror(-negativeErrno);
}

}  // namespace

struct TSystemRestarter::TBus {
  TSystemBus bus{kSendTimeoutUsec};
};

TSystemRestarter::TSystemRestarter(bool virtualDrives, TReport report)
    : virtualDrives_(virtualDrives), report_(std::move(report)) {}

TSystemRestarter::~TSystemRestarter() = default;

void TSystemRestarter::RequestReboot() {
  if (virtualDrives_) {
    if (report_.log) report_.log(kVirtualDrivesLine);
    return;
  }
  const auto fail = [this](const std::string& why) {
    if (report_.failure) report_.failure(why);
  };
  // logind lets a privileged caller override another program's block; this one never does.
  if (const std::vector<TShutdownBlocker> blockers = OtherShutdownBlockers(kSendTimeoutUsec);
      !blockers.empty()) {
    if (!report_.log) return;
    report_.log(kBlockedLine);
    for (const TShutdownBlocker& b : blockers) {
      report_.log("  " + b.who + " (process " + std::to_string(b.pid) + "): " + b.why);
    }
    report_.log(kRestartLaterLine);
    return;
  }

  if (report_.failure) {
    // Waits for logind's answer, for as long as a person may need to type a password.
    if (report_.log) report_.log(kWaitingLine);
    TSystemBus waiting(kRebootTimeoutUsec);
    if (waiting.OpenError() < 0) {
      return fail(ErrnoText("cannot connect to the system bus", waiting.OpenError()));
    }
    const int allow = sd_bus_set_allow_interactive_authorization(waiting.Bus(), 1);
    if (allow < 0) return fail(ErrnoText("cannot allow interactive authorisation", allow));
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    // interactive = true: polkit may ask.
    const int r =
        waiting.CallMethod(kService, kObject, kInterface, kMethod, &error, &reply, "b", 1);
    if (r < 0) {
      std::string why =
          r == -ETIMEDOUT ? "no answer within 2 minutes" : "logind refused the restart";
      if (error.name != nullptr) why += std::string(": ") + error.name;
      if (error.message != nullptr) why += std::string(": ") + error.message;
      if (error.name == nullptr && error.message == nullptr && r != -ETIMEDOUT) {
        why += ": " + std::string(std::strerror(-r));
      }
      fail(why);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return;
  }

  // Sent without waiting for the answer: the polkit question can take as long as the user
  // needs, and a refused restart only leaves the program running.
  auto bus = std::make_unique<TBus>();
  if (bus->bus.OpenError() < 0) return;
  sd_bus* b = bus->bus.Bus();
  int r = sd_bus_set_allow_interactive_authorization(b, 1);
  sd_bus_message* call = nullptr;
  if (r >= 0) r = sd_bus_message_new_method_call(b, &call, kService, kObject, kInterface, kMethod);
  if (r >= 0) r = sd_bus_message_append(call, "b", 1);
  if (r >= 0) bus->bus.Send(call);
  sd_bus_message_unref(call);
  bus_ = std::move(bus);
}

}  // namespace tavo
