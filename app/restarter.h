// How the window asks the system to restart the computer.
#pragma once

#include <functional>
#include <string>

namespace tavo {

class TRestarter {
 public:
  virtual ~TRestarter() = default;
  // Asks for a restart. Reports nothing back: a refused request leaves the program running.
  virtual void RequestReboot() = 0;
};

// logind over the system bus: org.freedesktop.login1.Manager.Reboot(interactive = true), so
// that polkit can ask the user for the privilege when needed.
class TLogindRestarter final : public TRestarter {
 public:
  void RequestReboot() override;
};

// Virtual drives attached: never restarts, only says (through log) what it would have done.
class TEmulatedRestarter final : public TRestarter {
 public:
  explicit TEmulatedRestarter(std::function<void(const std::string&)> log) : log_(std::move(log)) {}
  void RequestReboot() override;

  // Short enough to fit the log without being cut off.
  static constexpr const char* kLogLine = "Emulation: would ask logind to reboot; not restarted.";

 private:
  std::function<void(const std::string&)> log_;
};

}  // namespace tavo
