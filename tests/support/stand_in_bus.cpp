#include "tests/support/stand_in_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace tavo::test {

TPrivateBus::TPrivateBus() {
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
  close(out[0]);
}

TPrivateBus::~TPrivateBus() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

TSystemBusOverride::TSystemBusOverride(const std::string& address) {
  if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) saved_ = old;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
}

TSystemBusOverride::~TSystemBusOverride() {
  if (saved_) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_->c_str(), 1);
  } else {
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
}

TStandInServices::TStandInServices(const std::string& address, const TStandInConfig& config)
    : config_(config) {
  static constexpr sd_bus_vtable kLogind[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Inhibit", "ssss", "h", &TStandInServices::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Reboot", "b", "", &TStandInServices::Reboot, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("ListInhibitors", "", "a(ssssuu)", &TStandInServices::ListInhibitors,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
  static constexpr sd_bus_vtable kUPower[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("OnBattery", "b", &TStandInServices::OnBattery, 0, 0),
      SD_BUS_VTABLE_END,
  };
  static constexpr sd_bus_vtable kDisplayDevice[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Percentage", "d", &TStandInServices::Percentage, 0, 0),
      SD_BUS_VTABLE_END,
  };
  if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
      sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_negotiate_fds(bus_, 1) < 0 ||
      sd_bus_start(bus_) < 0) {
    return;
  }
  if (config_.logind &&
      (sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", kLogind, this) < 0 ||
       sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0)) {
    return;
  }
  if (config_.onBattery &&
      (sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/UPower", "org.freedesktop.UPower",
                                kUPower, this) < 0 ||
       sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/UPower/devices/DisplayDevice",
                                "org.freedesktop.UPower.Device", kDisplayDevice, this) < 0 ||
       sd_bus_request_name(bus_, "org.freedesktop.UPower", 0) < 0)) {
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

TStandInServices::~TStandInServices() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  sd_bus_flush_close_unref(bus_);
  for (int fd : lockEnds_) close(fd);
}

int TStandInServices::Inhibit(sd_bus_message* m, void* self, sd_bus_error* /*error*/) {
  auto* s = static_cast<TStandInServices*>(self);
  const char* what = nullptr;
  const char* who = nullptr;
  const char* why = nullptr;
  const char* mode = nullptr;
  if (sd_bus_message_read(m, "ssss", &what, &who, &why, &mode) < 0) return -EINVAL;
  if (s->onInhibit) s->onInhibit();
  // As logind does: the caller gets the writing end of a pipe; the lock ends when every
  // copy of it is closed, which the reading end sees as end of file.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -errno;
  const int r = sd_bus_reply_method_return(m, "h", fds[1]);
  close(fds[1]);
  std::lock_guard<std::mutex> lock(s->mutex_);
  s->calls_.push_back({what, who, why, mode});
  s->lockEnds_.push_back(fds[0]);
  return r;
}

int TStandInServices::Reboot(sd_bus_message* m, void* self, sd_bus_error* /*error*/) {
  auto* s = static_cast<TStandInServices*>(self);
  int interactive = 0;
  if (sd_bus_message_read(m, "b", &interactive) < 0) return -EINVAL;
  {
    std::lock_guard<std::mutex> lock(s->mutex_);
    s->reboots_.push_back(
        {interactive != 0, sd_bus_message_get_allow_interactive_authorization(m) > 0});
  }
  s->rebootArrived_.notify_all();
  if (s->config_.refuseReboot) {
    return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_ACCESS_DENIED, "Not allowed here.");
  }
  return sd_bus_reply_method_return(m, "");
}

int TStandInServices::ListInhibitors(sd_bus_message* m, void* self, sd_bus_error* /*error*/) {
  auto* s = static_cast<TStandInServices*>(self);
  std::vector<TListedInhibitor> listed = s->config_.inhibitors;
  {
    std::lock_guard<std::mutex> lock(s->mutex_);
    for (const TInhibitCall& c : s->calls_) {
      listed.push_back({c.what, c.who, c.why, c.mode, static_cast<uint32_t>(getuid()),
                        static_cast<uint32_t>(getpid())});
    }
  }
  sd_bus_message* reply = nullptr;
  int r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "(ssssuu)");
  for (const TListedInhibitor& i : listed) {
    if (r >= 0) {
      r = sd_bus_message_append(reply, "(ssssuu)", i.what.c_str(), i.who.c_str(), i.why.c_str(),
                                i.mode.c_str(), i.uid, i.pid);
    }
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

int TStandInServices::OnBattery(sd_bus*, const char*, const char*, const char*,
                                sd_bus_message* reply, void* self, sd_bus_error*) {
  auto* s = static_cast<TStandInServices*>(self);
  return sd_bus_message_append(reply, "b", s->config_.onBattery.value_or(false) ? 1 : 0);
}

int TStandInServices::Percentage(sd_bus*, const char*, const char*, const char*,
                                 sd_bus_message* reply, void* self, sd_bus_error*) {
  return sd_bus_message_append(reply, "d",
                               static_cast<TStandInServices*>(self)->config_.percentage);
}

std::vector<TStandInServices::TInhibitCall> TStandInServices::InhibitCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

bool TStandInServices::LockHeld() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lockEnds_.empty()) return false;
  pollfd p{lockEnds_.back(), POLLIN, 0};
  // End of file (or a hang-up) once the caller has closed its end.
  return poll(&p, 1, 0) == 0;
}

std::vector<TStandInServices::TRebootCall> TStandInServices::WaitForRebootCalls(size_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  rebootArrived_.wait_for(lock, std::chrono::seconds(10), [&] { return reboots_.size() >= n; });
  return reboots_;
}

std::vector<TStandInServices::TRebootCall> TStandInServices::RebootCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reboots_;
}

}  // namespace tavo::test
