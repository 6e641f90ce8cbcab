#include "platform/inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace tavo {

TInhibitor::~TInhibitor() {
  Release();
}

void TInhibitor::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::string TInhibitor::Take(const std::string& why) {
  if (fd_ >= 0) return {};
  sd_bus* bus = nullptr;
  int r = sd_bus_open_system(&bus);
  if (r < 0) return std::string("no system bus (") + std::strerror(-r) + ")";
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss", kWhat,
                         kWho, why.c_str(), "block");
  std::string failure;
  if (r < 0) {
    failure = "logind did not answer";
    if (error.name != nullptr) failure += std::string(" (") + error.name + ")";
  } else {
    int fd = -1;
    r = sd_bus_message_read(reply, "h", &fd);
    // The reply owns its descriptor: keep a copy of our own.
    if (r < 0 || (fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) failure = "logind sent no lock";
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return failure;
}

}  // namespace tavo
