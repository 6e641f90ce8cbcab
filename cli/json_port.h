// The flash procedure's port under --json: every log line becomes a "line" event (with its
// plain explanation when it is a failure line) and every phase change a "phase" event (and
// every 10 s of a wait). Questions get the answers the options gave; nothing is asked.
// When a person watches standard error, a second port there shows the run as the terminal
// front end does.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/json_events.h"
#include "drive/ports.h"
#include "flash/user_port.h"
#include "platform/restart.h"

namespace tavo {

class TJsonPort final : public TUserPort {
 public:
  struct TOptions {
    bool rebootAnswer = false;
    TRestarter* restarter = nullptr;  // none: the restart request is dropped
    // Receives every log line as well (the run log); none: nothing.
    std::function<void(const std::string&)> logTap;
    // Shows the run to a person as well (standard error on a terminal); none: nobody.
    TUserPort* human = nullptr;
  };

  TJsonPort(TJsonEvents& events, const TOptions& options) : events_(events), options_(options) {}

  // The drive the following lines and phases belong to (empty: none).
  void SetNode(const std::string& node) {
    node_ = node;
    lastPhase_.reset();
  }

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
  TJsonEvents& events_;
  TOptions options_;
  std::string node_;
  std::optional<TPhase> lastPhase_;  // the phase of the last phase event
};

// The drive layer's messages under --json: a "line" event each, and on standard error too
// when a person watches it.
class TJsonAtapiSink final : public TAtapiSink {
 public:
  TJsonAtapiSink(TJsonEvents& events, TAtapiSink* human) : events_(events), human_(human) {}
  void ShowPlainMessage(const std::string& text) override;
  void PumpMessage() override {}

 private:
  TJsonEvents& events_;
  TAtapiSink* human_;
};

}  // namespace tavo
