// The terminal's side of the flash procedure: every log line goes to standard output as
// its own line at once (a failure line's plain explanation follows on standard error), the
// questions are asked on the terminal (or answered by options), and progress (one overall
// percentage that never goes back, with the phase) is drawn compactly on standard error
// only when it is a terminal.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "drive/ports.h"
#include "flash/user_port.h"
#include "platform/restart.h"

namespace tavo {

// Asks an OK/Cancel question on out and reads the answer from in: "y" or "yes" (any case)
// is OK, anything else (end of input included) is Cancel.
bool AskOkCancel(const std::string& question, std::FILE* in, std::FILE* out);

class TCliPort final : public TUserPort {
 public:
  struct TOptions {
    // Answer to the restart question; no value: ask on the terminal.
    std::optional<bool> rebootAnswer;
    // Carries out the restart request (it knows whether the drives are virtual); none:
    // the request is dropped.
    TRestarter* restarter = nullptr;
    // Draw progress on standard error (only worth it on a terminal).
    bool showProgress = false;
    // Without the progress line: a plain line on standard error at each phase change and
    // every 10 s of a wait, so that a log taken from a pipe shows the run is alive.
    bool phaseLines = false;
    // Receives every log line as well (the run log); none: nothing.
    std::function<void(const std::string&)> logTap;
  };

  explicit TCliPort(const TOptions& options, std::FILE* out = stdout, std::FILE* err = stderr,
                    std::FILE* in = stdin);

  void AddLog(const std::string& text) override;
  void SetProgress(int value) override;
  void SetProgressRange(int minimum, int maximum) override;
  void RepaintProgress() override {}
  void ProcessMessages() override {}
  void SetControlEnabled(TControl, bool) override {}
  void RepaintControl(TControl) override {}
  bool AskReboot() override;
  void RequestReboot() override;
  void SetPhase(const TPhase& phase) override;

 private:
  void ClearProgressLine();
  void DrawProgressLine();
  void UpdatePercent();

  TOptions options_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  int minimum_ = 0;
  int maximum_ = 100;
  // The run's overall percentage: only ever grows; -1 before the first phase.
  int shownPercent_ = -1;
  int drawnPercent_ = -1;
  std::optional<TPhase> phase_;
  double within_ = 0;  // how far the current phase has come, 0 to 1
  bool progressLineOpen_ = false;
  std::string phaseText_;
  std::optional<TPhase> lastPlain_;  // the phase of the last plain line
};

// The drive layer's messages in a terminal: plain text on standard error; there are no
// window messages to pump.
class TCliAtapiSink final : public TAtapiSink {
 public:
  void ShowPlainMessage(const std::string& text) override;
  void PumpMessage() override {}
};

}  // namespace tavo
