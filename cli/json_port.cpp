#include "cli/json_port.h"

namespace tavo {

void TJsonPort::AddLog(const std::string& text) {
  events_.Line(node_, text);
  if (options_.logTap) options_.logTap(text);
  if (options_.human != nullptr) options_.human->AddLog(text);
}

void TJsonPort::SetProgress(int value) {
  if (options_.human != nullptr) options_.human->SetProgress(value);
}

void TJsonPort::SetProgressRange(int minimum, int maximum) {
  if (options_.human != nullptr) options_.human->SetProgressRange(minimum, maximum);
}

void TJsonPort::SetPhase(const TPhase& phase) {
  if (options_.human != nullptr) options_.human->SetPhase(phase);
  // The wait is reported every second; an event at each change and every 10 s is enough
  // to show that the run is alive.
  if (!WorthReporting(lastPhase_, phase)) return;
  lastPhase_ = phase;
  events_.Phase(node_, phase);
}

bool TJsonPort::AskReboot() {
  // The question as the terminal prints it with its answer; the human port prints it too.
  events_.Line(node_, std::string("Reboot this computer right now ? ") +
                          (options_.rebootAnswer ? "OK" : "Cancel"));
  if (options_.human != nullptr) options_.human->AskReboot();
  return options_.rebootAnswer;
}

void TJsonPort::RequestReboot() {
  if (options_.restarter != nullptr) options_.restarter->RequestReboot();
}

void TJsonAtapiSink::ShowPlainMessage(const std::string& text) {
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  events_.Line({}, line);
  if (human_ != nullptr) human_->ShowPlainMessage(text);
}

}  // namespace tavo
