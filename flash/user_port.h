// The flash procedure's only way to the user. The window, the terminal front end and the
// tests each implement it.
#pragma once

#include <string>
#include <vector>

#include "flash/phase.h"

namespace tavo {

// Controls whose enabled state the procedure changes.
enum class TControl { SelDevice, BitBtn2, BitBtn3 };

class TUserPort {
 public:
  virtual ~TUserPort() = default;
  // Appends one line to the log, shows it at once and selects it.
  virtual void AddLog(const std::string& text) = 0;
  // Moves the progress bar within its current range.
  virtual void SetProgress(int value) = 0;
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  // Repaints the progress bar at once.
  virtual void RepaintProgress() = 0;
  // Processes the pending window messages.
  virtual void ProcessMessages() = 0;
  virtual void SetControlEnabled(TControl control, bool enabled) = 0;
  // Repaints a control at once (after a state change that must be visible during a run).
  virtual void RepaintControl(TControl control) = 0;
  // "Reboot this computer right now ?", caption "Warning", OK/Cancel, warning icon.
  // True when the user chose OK.
  virtual bool AskReboot() = 0;
  // Asks the system to restart the computer. Reports nothing back.
  virtual void RequestReboot() = 0;
  // Where the run stands now; during the wait for the drive it is called again every
  // second with the elapsed time. Front ends that show no phase leave it as it is.
  virtual void SetPhase(const TPhase& /*phase*/) {}
};

// A port for runs nobody watches (the read-only check, tests, the fuzzer): it keeps the log
// lines and shows nothing else, and answers the restart question with a fixed answer.
class TLogOnlyPort : public TUserPort {
 public:
  explicit TLogOnlyPort(bool rebootAnswer = false) : rebootAnswer_(rebootAnswer) {}
  void AddLog(const std::string& text) override { lines.push_back(text); }
  void SetProgress(int) override {}
  void SetProgressRange(int, int) override {}
  void RepaintProgress() override {}
  void ProcessMessages() override {}
  void SetControlEnabled(TControl, bool) override {}
  void RepaintControl(TControl) override {}
  bool AskReboot() override { return rebootAnswer_; }
  void RequestReboot() override {}

  std::vector<std::string> lines;

 private:
  bool rebootAnswer_;
};

}  // namespace tavo
