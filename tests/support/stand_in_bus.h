// A private dbus-daemon and stand-in system services on it (never the machine's bus):
// logind's Inhibit and Reboot and UPower's power state, answered on a thread of their own.
#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavo::test {

// A dbus-daemon of its own, ended with the object.
class TPrivateBus {
 public:
  TPrivateBus();
  ~TPrivateBus();
  TPrivateBus(const TPrivateBus&) = delete;
  TPrivateBus& operator=(const TPrivateBus&) = delete;
  const std::string& Address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

// Makes the private bus this process's system bus for the life of the object.
class TSystemBusOverride {
 public:
  explicit TSystemBusOverride(const std::string& address);
  ~TSystemBusOverride();

 private:
  std::optional<std::string> saved_;
};

// An inhibitor logind's ListInhibitors reports besides those handed out by Inhibit.
struct TListedInhibitor {
  std::string what, who, why, mode;
  uint32_t uid = 0;
  uint32_t pid = 0;
};

// What the stand-ins offer. No logind / no UPower: the names are not taken.
struct TStandInConfig {
  bool logind = true;
  bool refuseReboot = false;      // Reboot answered with AccessDenied
  std::optional<bool> onBattery;  // UPower present when set
  double percentage = 100.0;
  std::vector<TListedInhibitor> inhibitors = {};  // held by other programs
};

class TStandInServices {
 public:
  struct TInhibitCall {
    std::string what, who, why, mode;
  };
  struct TRebootCall {
    bool interactive;
    bool authorizationAllowed;
  };

  TStandInServices(const std::string& address, const TStandInConfig& config);
  ~TStandInServices();
  bool Ready() const { return ready_; }

  // Runs on the service thread while an Inhibit call is being answered.
  std::function<void()> onInhibit;
  std::vector<TInhibitCall> InhibitCalls();
  // True while a lock handed out is still held by the caller (its end of the pipe open).
  bool LockHeld();
  // The Reboot calls received once n have arrived, or what arrived within ten seconds.
  std::vector<TRebootCall> WaitForRebootCalls(size_t n);
  // The Reboot calls received so far.
  std::vector<TRebootCall> RebootCalls();

 private:
  static int Inhibit(sd_bus_message* m, void* self, sd_bus_error* error);
  static int Reboot(sd_bus_message* m, void* self, sd_bus_error* error);
  // The configured inhibitors, then those Inhibit handed out (as held by this process).
  static int ListInhibitors(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnBattery(sd_bus* bus, const char* path, const char* interface, const char* property,
                       sd_bus_message* reply, void* self, sd_bus_error* error);
  static int Percentage(sd_bus* bus, const char* path, const char* interface, const char* property,
                        sd_bus_message* reply, void* self, sd_bus_error* error);

  TStandInConfig config_;
  sd_bus* bus_ = nullptr;
  bool ready_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<TInhibitCall> calls_;
  std::vector<int> lockEnds_;  // our ends of the pipes handed out
  std::vector<TRebootCall> reboots_;
  std::condition_variable rebootArrived_;
};

}  // namespace tavo::test
