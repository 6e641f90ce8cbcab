#include "platform/inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/system_bus.h"

namespace tavo {

TInhibitor::~TInhibitor() {
  Release();
}

void TInhibitor::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::string TInhibitor::Take(const std::string& why, uint64_t timeoutUsec) {
  if (fd_ >= 0) return {};
  TSystemBus bus(timeoutUsec);
  if (bus.OpenError() < 0)
    return std::string("no system bus (") + std::strerror(-bus.OpenError()) + ")";
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int r = bus.CallMethod("org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                               kWhat, kWho, why.c_str(), "block");
  std::string failure;
  if (r < 0) {
    failure = BusFailureText("logind", r, error);
  } else {
    int fd = -1;
    // The reply owns its descriptor: keep a copy of our own.
    if (sd_bus_message_read(reply, "h", &fd) < 0 || (fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) {
      failure = "logind sent no lock";
    }
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return failure;
}

}  // namespace tavo
