#include "cli/cli_report.h"

#include "cli/cli_startup.h"

namespace tavo {

int WorseExit(int a, int b) {
  // Rank by what the user must do first: a drive that must not be powered off, a drive
  // the run could not change, a usage problem, a refusal to try again, nothing.
  const auto rank = [](int code) {
    switch (code) {
      case kExitVerified:
        return 0;
      case kExitRefused:
        return 1;
      case kExitUsage:
        return 2;
      case kExitFailed:
        return 3;
      default:
        return 4;  // written but not verified, or anything unknown
    }
  };
  return rank(b) > rank(a) ? b : a;
}

void TTextReport::Outcome(const TDriveOutcome& outcome) {
  if (outcome.result == TDriveResult::Verified && !outcome.newRevision.empty()) {
    std::fprintf(err_, "%s -> %s\n", outcome.oldRevision.c_str(), outcome.newRevision.c_str());
  }
  std::fprintf(err_, "\n%s\n", outcome.text.c_str());
  if (!outcome.logPath.empty()) {
    std::fprintf(err_, "The log of this run: %s\n", outcome.logPath.c_str());
  }
  if (!outcome.backupPath.empty()) {
    std::fprintf(err_, "The drive's firmware before this run: %s\n", outcome.backupPath.c_str());
  }
  std::fflush(err_);
}

void TTextReport::Error(const std::string&, const std::string& message, int, bool shown) {
  if (shown) return;
  std::fprintf(err_, "tavoflash-cli: %s\n", message.c_str());
  std::fflush(err_);
}

}  // namespace tavo
