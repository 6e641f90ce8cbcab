#include "cli/cli_port.h"

#include <algorithm>
#include <cctype>

#include "session/line_explanations.h"

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
  // A failure line is followed by what it means, beside the procedure's own output.
  if (const std::string why = ExplainLine(text, "tavoflash-cli"); !why.empty()) {
    std::fprintf(err_, "  %s\n", why.c_str());
    std::fflush(err_);
  }
}

namespace {

// The whole run as one percentage: each phase has its share, in the order the run goes;
// within is how far the phase itself has come (0 to 1).
int OverallPercent(const TPhase& phase, double within) {
  const auto ofBanks = [&](double from, double span) {
    const double banks = phase.banks > 0 ? phase.banks : 1;
    const double done = std::clamp((phase.bank - 1 + within) / banks, 0.0, 1.0);
    return from + span * done;
  };
  double percent = 0;
  switch (phase.kind) {
    case TPhaseKind::CheckingDrive:
      percent = 5 * within;
      break;
    case TPhaseKind::BackingUp: {
      // Both reads of every bank: the first fills 5 to 10, the second 10 to 15.
      const double banks = phase.banks > 0 ? phase.banks : 1;
      const double done = ((phase.pass > 1 ? banks : 0) + phase.bank - 1 + within) / (2 * banks);
      percent = 5 + 10 * std::clamp(done, 0.0, 1.0);
      break;
    }
    case TPhaseKind::RefreshingPatch:
      percent = 15;
      break;
    case TPhaseKind::SendingBank:
      percent = ofBanks(15, 45);
      break;
    case TPhaseKind::Committing:
      percent = 60;
      break;
    case TPhaseKind::WaitingForDrive:
      percent =
          65 + 15 * std::clamp(phase.limitSec > 0 ? double(phase.elapsedSec) / phase.limitSec : 0.0,
                               0.0, 1.0);
      break;
    case TPhaseKind::Verifying:
      percent = ofBanks(80, 20);
      break;
  }
  return static_cast<int>(percent);
}

// The phase in the terminal's words: a wait says how long so far and how long at most.
std::string TerminalPhaseText(const TPhase& phase) {
  if (phase.kind != TPhaseKind::WaitingForDrive) return PhaseText(phase);
  return "waiting for the drive to finish programming: " + std::to_string(phase.elapsedSec) +
         " s so far, at most " + std::to_string(std::max(0, phase.limitSec - phase.elapsedSec)) +
         " s more";
}

}  // namespace

void TCliPort::SetPhase(const TPhase& phase) {
  phase_ = phase;
  within_ = 0;
  phaseText_ = TerminalPhaseText(phase);
  UpdatePercent();
  if (options_.showProgress) {
    DrawProgressLine();
    return;
  }
  if (!options_.phaseLines) return;
  if (!WorthReporting(lastPlain_, phase)) return;
  lastPlain_ = phase;
  std::fprintf(err_, "tavoflash-cli: %3d%%  %s\n", shownPercent_, phaseText_.c_str());
  std::fflush(err_);
}

void TCliPort::UpdatePercent() {
  if (!phase_) return;
  // Never back: a new bank's range or a retry does not undo what the user was shown.
  shownPercent_ = std::max(shownPercent_, OverallPercent(*phase_, within_));
}

void TCliPort::DrawProgressLine() {
  const int percent = std::max(shownPercent_, 0);
  std::fprintf(err_, "\r\033[K[%-10s] %3d%%  %s", std::string(percent / 10, '#').c_str(), percent,
               phaseText_.c_str());
  std::fflush(err_);
  drawnPercent_ = percent;
  progressLineOpen_ = true;
}

void TCliPort::SetProgressRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
}

void TCliPort::SetProgress(int value) {
  // Within a phase only the marker search and the read-back move by position; the bar's
  // other positions belong to ranges that restart with every bank.
  if (!phase_ ||
      (phase_->kind != TPhaseKind::CheckingDrive && phase_->kind != TPhaseKind::Verifying)) {
    return;
  }
  const long long span = static_cast<long long>(maximum_) - minimum_;
  if (span <= 0) return;
  within_ = std::clamp(double(static_cast<long long>(value) - minimum_) / double(span), 0.0, 1.0);
  UpdatePercent();
  if (options_.showProgress && shownPercent_ != drawnPercent_) DrawProgressLine();
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
  if (const std::string why = ExplainLine(line, "tavoflash-cli"); !why.empty()) {
    std::fprintf(stderr, "  %s\n", why.c_str());
  }
  std::fflush(stderr);
}

}  // namespace tavo
