// Recording doubles shared by the tests: the user-interface port the flash engine talks to
// and the drive layer's message sink. Both keep everything they are told, in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "drive/ports.h"
#include "flash/user_port.h"

namespace tavo::test {

// Every call the engine makes on the port, in order, as short texts:
// "log:<text>", "progress:<n>", "range:<min>-<max>", "repaint", "pump",
// "enable:<control>=<0|1>", "repaint:<control>", "ask", "reboot".
class TRecordingPort final : public TUserPort {
 public:
  void AddLog(const std::string& text) override {
    events.push_back("log:" + text);
    logs.push_back(text);
  }
  void SetProgress(int value) override {
    events.push_back("progress:" + std::to_string(value));
    progress.push_back(value);
  }
  void SetProgressRange(int minimum, int maximum) override {
    events.push_back("range:" + std::to_string(minimum) + "-" + std::to_string(maximum));
  }
  void RepaintProgress() override { events.push_back("repaint"); }
  void ProcessMessages() override {
    ++pumps;
    events.push_back("pump");
  }
  void SetControlEnabled(TControl control, bool enabled) override {
    events.push_back("enable:" + Name(control) + "=" + (enabled ? "1" : "0"));
    enabledState[static_cast<int>(control)] = enabled;
  }
  void RepaintControl(TControl control) override { events.push_back("repaint:" + Name(control)); }
  bool AskReboot() override {
    events.push_back("ask");
    if (onAsk) onAsk();
    return rebootAnswer;
  }
  void RequestReboot() override { events.push_back("reboot"); }

  bool Enabled(TControl control) const { return enabledState[static_cast<int>(control)]; }
  // Events of one kind ("enable:", "ask", ...), in order.
  std::vector<std::string> EventsStarting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : events) {
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    }
    return out;
  }
  void Clear() {
    events.clear();
    logs.clear();
    progress.clear();
    pumps = 0;
  }

  std::vector<std::string> events;
  std::vector<std::string> logs;
  std::vector<int> progress;
  int pumps = 0;
  bool rebootAnswer = false;
  std::function<void()> onAsk;  // runs when the restart question is asked
  bool enabledState[3] = {true, true, true};

 private:
  static std::string Name(TControl control) {
    switch (control) {
      case TControl::SelDevice:
        return "SelDevice";
      case TControl::BitBtn2:
        return "BitBtn2";
      case TControl::BitBtn3:
        return "BitBtn3";
    }
    return "?";
  }
};

// The drive layer's messages, in order. pump, when set, runs on every message pump (a
// window's tests let their event loop run there).
class TRecordingSink final : public TAtapiSink {
 public:
  void ShowPlainMessage(const std::string& text) override { messages.push_back(text); }
  void PumpMessage() override {
    if (pump) pump();
  }
  std::vector<std::string> messages;
  std::function<void()> pump;
};

}  // namespace tavo::test
