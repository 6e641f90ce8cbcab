#include "platform/inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "drive/printable_text.h"
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

namespace {

// True when the colon-separated list what names shutdown.
bool BlocksShutdown(std::string_view what) {
  while (!what.empty()) {
    const size_t colon = what.find(':');
    if (what.substr(0, colon) == "shutdown") return true;
    if (colon == std::string_view::npos) break;
    what.remove_prefix(colon + 1);
  }
  return false;
}

}  // namespace

std::vector<TShutdownBlocker> OtherShutdownBlockers(uint64_t timeoutUsec) {
  std::vector<TShutdownBlocker> blockers;
  TSystemBus bus(timeoutUsec);
  if (bus.OpenError() < 0) return blockers;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int r = bus.CallMethod("org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply);
  if (r >= 0 && sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
    const auto self = static_cast<uint32_t>(getpid());
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    uint32_t uid = 0;
    uint32_t pid = 0;
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
      if (pid == self || std::string_view(mode) != "block" || !BlocksShutdown(what)) continue;
      blockers.push_back({PrintableText(who), PrintableText(why), pid});
    }
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return blockers;
}

}  // namespace tavo
