#include "cli/cli_port.h"

#include <cctype>

namespace tavo {

bool AskOkCancel(const std::string& question, std::FILE* in, std::FILE* out) {
  std::fprintf(out, "%s [y/N] ", question.c_str());
  std::fflush(out);
  std::string answer;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    answer += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::fputc('\n', out);
  std::fflush(out);
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) {
    answer.pop_back();
  }
  return answer == "y" || answer == "yes";
}

TCliPort::TCliPort(const TOptions& options, std::FILE* out, std::FILE* err, std::FILE* in)
    : options_(options), out_(out), err_(err), in_(in) {}

void TCliPort::ClearProgressLine() {
  if (!progressLineOpen_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  progressLineOpen_ = false;
}

void TCliPort::AddLog(const std::string& text) {
  ClearProgressLine();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
  if (options_.logTap) options_.logTap(text);
}

void TCliPort::SetPhase(const TPhase& phase) {
  phaseText_ = PhaseText(phase);
  if (options_.showProgress) {
    DrawProgressLine();
    return;
  }
  if (!options_.phaseLines) return;
  const bool changed =
      !lastPlain_ || lastPlain_->kind != phase.kind || lastPlain_->bank != phase.bank;
  const bool waitedTenMore = lastPlain_ && phase.kind == TPhaseKind::WaitingForDrive &&
                             phase.elapsedSec - lastPlain_->elapsedSec >= 10;
  if (!changed && !waitedTenMore) return;
  lastPlain_ = phase;
  std::fprintf(err_, "tavoflash-cli: %s\n", phaseText_.c_str());
  std::fflush(err_);
}

void TCliPort::DrawProgressLine() {
  const int tenth = shownTenth_ < 0 ? 0 : shownTenth_;
  std::fprintf(err_, "\r\033[K[%-10s] %3d%%  %s", std::string(tenth, '#').c_str(), tenth * 10,
               phaseText_.c_str());
  std::fflush(err_);
  progressLineOpen_ = true;
}

void TCliPort::SetProgressRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  shownTenth_ = -1;
}

void TCliPort::SetProgress(int value) {
  if (!options_.showProgress) return;
  const long long span = static_cast<long long>(maximum_) - minimum_;
  if (span <= 0) return;
  long long tenth = (static_cast<long long>(value) - minimum_) * 10 / span;
  if (tenth < 0) tenth = 0;
  if (tenth > 10) tenth = 10;
  if (tenth == shownTenth_) return;
  shownTenth_ = static_cast<int>(tenth);
  DrawProgressLine();
}

bool TCliPort::AskReboot() {
  ClearProgressLine();
  const std::string question = "Reboot this computer right now ?";
  if (options_.rebootAnswer) {
    std::fprintf(out_, "%s %s\n", question.c_str(), *options_.rebootAnswer ? "OK" : "Cancel");
    std::fflush(out_);
    return *options_.rebootAnswer;
  }
  return AskOkCancel(question, in_, out_);
}

void TCliPort::RequestReboot() {
  if (options_.restarter != nullptr) options_.restarter->RequestReboot();
}

void TCliAtapiSink::ShowPlainMessage(const std::string& text) {
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace tavo
