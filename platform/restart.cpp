#include "platform/restart.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tavo {

namespace {

constexpr char kService[] = "org.freedesktop.login1";
constexpr char kObject[] = "/org/freedesktop/login1";
constexpr char kInterface[] = "org.freedesktop.login1.Manager";
constexpr char kMethod[] = "Reboot";

std::string ErrnoText(const char* what, int negativeErrno) {
  return std::string(what) + ": " + std::strerror(-negativeErrno);
}

}  // namespace

struct TSystemRestarter::TBus {
  sd_bus* bus = nullptr;
  ~TBus() { sd_bus_flush_close_unref(bus); }
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

  auto bus = std::make_unique<TBus>();
  int r = sd_bus_open_system(&bus->bus);
  if (r < 0) return fail(ErrnoText("cannot connect to the system bus", r));
  r = sd_bus_set_allow_interactive_authorization(bus->bus, 1);
  if (r < 0) return fail(ErrnoText("cannot allow interactive authorisation", r));

  sd_bus_message* call = nullptr;
  r = sd_bus_message_new_method_call(bus->bus, &call, kService, kObject, kInterface, kMethod);
  if (r >= 0) r = sd_bus_message_append(call, "b", 1);  // interactive: polkit may ask
  if (r < 0) {
    sd_bus_message_unref(call);
    return fail(ErrnoText("cannot build the restart request", r));
  }

  if (!report_.failure) {
    // Sent without waiting for the answer: the polkit question can take as long as the
    // user needs, and a refused restart only leaves the program running.
    r = sd_bus_send(bus->bus, call, nullptr);
    if (r >= 0) r = sd_bus_flush(bus->bus);
    sd_bus_message_unref(call);
    bus_ = std::move(bus);
    return;
  }

  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus->bus, call, 0, &error, &reply);
  if (r < 0) {
    std::string why = "logind refused the restart";
    if (error.name != nullptr) why += std::string(": ") + error.name;
    if (error.message != nullptr) why += std::string(": ") + error.message;
    if (error.name == nullptr && error.message == nullptr)
      why += ": " + std::string(std::strerror(-r));
    fail(why);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  bus_ = std::move(bus);
}

}  // namespace tavo
