// The restart of the computer after a verified run, for both front ends: logind's
// org.freedesktop.login1.Manager.Reboot(interactive = true) on the system bus, with
// interactive authorisation allowed so that polkit can ask the user for the privilege.
// While another program holds a block inhibitor for shutdown (logind would let a privileged
// caller override it), no restart is requested: the log names who holds it and why.
// Virtual drives never restart the computer: this is decided here and nowhere else.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavo {

// How a front end asks for the restart; the window's tests count the requests.
class TRestarter {
 public:
  virtual ~TRestarter() = default;
  // Asks for a restart. A refused request leaves the program running.
  virtual void RequestReboot() = 0;
};

class TSystemRestarter final : public TRestarter {
 public:
  struct TReport {
    // Receives the one line that says a restart was not requested (virtual drives), or
    // that the request waits for an answer.
    std::function<void(const std::string&)> log;
    // Receives why a request failed. When set, RequestReboot waits for logind's answer
    // (the polkit question included, at most 2 minutes); when not set, the request is
    // sent without waiting and its outcome is not examined.
    std::function<void(const std::string&)> failure;
  };

  // virtualDrives: the drives are emulated, so the computer is never restarted.
  TSystemRestarter(bool virtualDrives, TReport report);
  ~TSystemRestarter() override;
  TSystemRestarter(const TSystemRestarter&) = delete;
  TSystemRestarter& operator=(const TSystemRestarter&) = delete;

  void RequestReboot() override;

  // Logged instead of a restart when the drives are virtual. Short enough to fit the
  // window's log without being cut off.
  static constexpr const char* kVirtualDrivesLine =
      "Emulation: would ask logind to reboot; not restarted.";
  // Said before the request that waits for logind's answer.
  static constexpr const char* kWaitingLine =
      "Asking the system to restart; it may ask for a password (waiting up to 2 minutes).";
  // Logged instead of the request while other programs block shutdown, before one line per
  // program ("  Who (process N): Why") and kRestartLaterLine.
  static constexpr const char* kBlockedLine = "Not restarted: another program blocks shutdown:";
  static constexpr const char* kRestartLaterLine =
      "Restart the computer once that program is done.";
  static constexpr uint64_t kRebootTimeoutUsec = 120'000'000;

 private:
  struct TBus;
  bool virtualDrives_;
  TReport report_;
  // The system-bus connection of the last request. Kept open for the life of the object:
  // logind asks polkit about the caller by its bus name, which must still exist then.
  std::unique_ptr<TBus> bus_;
};

}  // namespace tavo
