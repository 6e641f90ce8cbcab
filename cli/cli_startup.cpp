#include "cli/cli_startup.h"

#include "cli/cli_port.h"
#include "session/drive_report.h"
#include "session/line_explanations.h"
#include "session/unreached_drives.h"

namespace tavo {

TCliStartupHooks::TCliStartupHooks(const TCliOptions& options, std::FILE* out, std::FILE* err,
                                   std::FILE* in)
    : options_(options), out_(out), err_(err), in_(in) {}

bool TCliStartupHooks::Ask(const std::string& question, const char* yesAnswer) {
  if (options_.yes) {
    std::fprintf(out_, "%s %s\n", question.c_str(), yesAnswer);
    std::fflush(out_);
    return true;
  }
  if (AskOkCancel(question, in_, out_)) return true;
  std::fprintf(err_, "tavoflash-cli: cancelled, nothing was sent to a drive.\n");
  return false;
}

bool TCliStartupHooks::Confirm(const std::string& question) {
  if (options_.list) return true;  // listing sends nothing that changes a drive
  return Ask(question, "OK");
}

bool TCliStartupHooks::ConfirmTarget(const TFlashTarget& target) {
  return Ask("Flash " + TargetText(target) + "?", "yes");
}

bool TCliStartupHooks::ChooseDrive(TFlashState& state) {
  for (size_t i = 0; i < state.items.size(); ++i) {
    const std::string device =
        atapi_ != nullptr ? ItemDevice(*atapi_, state, static_cast<int>(i)) : std::string();
    std::fprintf(out_, "[%zu] %s%s%s\n", i, state.items[i].c_str(), device.empty() ? "" : "  ",
                 device.c_str());
  }
  std::fflush(out_);
  ShowUnreached();
  if (options_.list) return false;
  if (!options_.drivePath.empty()) {
    const int item = atapi_ != nullptr ? ItemAtDevice(*atapi_, state, options_.drivePath) : -1;
    if (item < 0) {
      return Refuse("no drive in the list is at " + options_.drivePath + ".");
    }
    state.selectedItem = item;
    return true;
  }
  if (options_.drive >= 0) {
    if (options_.drive >= static_cast<int>(state.items.size())) {
      return Refuse("there is no drive " + std::to_string(options_.drive) + " in the list (0 to " +
                    std::to_string(state.items.size() - 1) + ").");
    }
    state.selectedItem = options_.drive;
  }
  return true;
}

bool TCliStartupHooks::Refuse(const std::string& why) {
  std::fprintf(err_, "tavoflash-cli: %s\n", why.c_str());
  choiceError_ = why;
  badIndex_ = true;
  return false;
}

bool TCliStartupHooks::NoMatchingDrive() {
  std::fprintf(err_, "Can't find the device to upgrade !!\n");
  if (atapi_ != nullptr) {
    for (const std::string& line : NoDriveReasons(*atapi_, identity_, "tavoflash-cli")) {
      std::fprintf(err_, "%s\n", line.c_str());
    }
  }
  ShowUnreached();
  return false;
}

void TCliStartupHooks::ShowUnreached() {
  if (atapi_ != nullptr) {
    for (const std::string& line : UnreachedDriveLines(*atapi_, identity_)) {
      std::fprintf(err_, "%s\n", line.c_str());
    }
  }
  std::fflush(err_);
}

void TCliStartupHooks::ShowSelection(const std::string& caption, const std::string& selected) {
  std::fprintf(out_, "%s\n", caption.c_str());
  std::fprintf(out_, "Selected: %s\n", selected.c_str());
  std::fflush(out_);
}

int TCliStartupHooks::ExitCode(TStartupOutcome outcome) const {
  switch (outcome) {
    case TStartupOutcome::Ready:
      return kExitVerified;
    case TStartupOutcome::Cancelled:
      return kExitRefused;
    case TStartupOutcome::NoDrive:
      return kExitUsage;
    case TStartupOutcome::Stopped:
      return badIndex_ ? kExitUsage : kExitVerified;
  }
  return kExitFailed;
}

}  // namespace tavo
