#include "cli/json_events.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "drive/printable_text.h"
#include "session/drive_report.h"
#include "session/line_explanations.h"
#include "session/run_outcome.h"
#include "session/version.h"

namespace tavo {

using json = nlohmann::ordered_json;

const char* PhaseName(TPhaseKind kind) {
  switch (kind) {
    case TPhaseKind::CheckingDrive:
      return "checking_drive";
    case TPhaseKind::BackingUp:
      return "backing_up";
    case TPhaseKind::RefreshingPatch:
      return "refreshing_patch";
    case TPhaseKind::SendingBank:
      return "sending_bank";
    case TPhaseKind::Committing:
      return "committing";
    case TPhaseKind::WaitingForDrive:
      return "waiting_for_drive";
    case TPhaseKind::Verifying:
      return "verifying";
  }
  return "checking_drive";
}

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

void TJsonEvents::Emit(const std::string& event, json fields) {
  json object = {{"format_version", kJsonFormatVersion}, {"event", event}};
  object.update(std::move(fields));
  // The drive's own words go out as the bytes it sent (JSON escapes control bytes), and a
  // line must never fail to be written: anything that is not UTF-8 becomes U+FFFD.
  const std::string line = object.dump(-1, ' ', false, json::error_handler_t::replace);
  if (readerGone_) return;
  errno = 0;
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
  if (std::ferror(out_) != 0 && errno == EPIPE) readerGone_ = true;
}

void TJsonEvents::Start(const TFirmwareImage& image, const TStartupOptions& options) {
  const std::string identity = ImageIdentity(image);
  const TImageHeader header = image.Header();
  Emit("start", {{"program", "tavoflash-cli"},
                 {"program_version", ProgramVersion()},
                 {"image_identity", TextOrNull(identity)},
                 {"image_revision", TextOrNull(ImageRevision(identity))},
                 {"image_checksum", header.Checksum},
                 {"image_banks", header.BankCount},
                 {"transport", options.aspi ? "aspi" : "passthrough"},
                 {"emulated", options.emulate}});
}

void TJsonEvents::Line(const std::string& node, const std::string& text) {
  Emit("line", {{"node", TextOrNull(node)},
                {"text", text},
                {"explanation", TextOrNull(ExplainLine(text, "tavoflash-cli"))}});
}

void TJsonEvents::Phase(const std::string& node, const TPhase& phase) {
  const bool backup = phase.kind == TPhaseKind::BackingUp;
  const bool banked =
      backup || phase.kind == TPhaseKind::SendingBank || phase.kind == TPhaseKind::Verifying;
  const bool waiting = phase.kind == TPhaseKind::WaitingForDrive;
  Emit("phase", {{"node", TextOrNull(node)},
                 {"name", PhaseName(phase.kind)},
                 {"bank", banked ? json(phase.bank) : json(nullptr)},
                 {"banks", banked ? json(phase.banks) : json(nullptr)},
                 {"elapsed_s", waiting ? json(phase.elapsedSec) : json(nullptr)},
                 {"remaining_s",
                  waiting ? json(std::max(0, phase.limitSec - phase.elapsedSec)) : json(nullptr)},
                 {"pass", backup ? json(phase.pass) : json(nullptr)},
                 {"text", PhaseText(phase)}});
}

void TJsonEvents::Outcome(const TDriveOutcome& outcome) {
  Emit("outcome", {{"node", TextOrNull(outcome.node)},
                   {"index", outcome.index},
                   {"class", OutcomeClassName(outcome.result)},
                   {"exit_status", OutcomeExitStatus(outcome.result)},
                   {"old_revision", TextOrNull(DriveBytes(outcome.oldRevision))},
                   {"new_revision", TextOrNull(DriveBytes(outcome.newRevision))},
                   {"changed", outcome.Changed()},
                   {"summary", outcome.summary},
                   {"text", outcome.text},
                   {"log", TextOrNull(outcome.logPath)},
                   {"backup", TextOrNull(outcome.backupPath)}});
}

void TJsonEvents::Error(const std::string& code, const std::string& message, int exitStatus) {
  Emit("error", {{"code", code}, {"message", message}, {"exit_status", exitStatus}});
}

void TJsonReport::Drives(const TAtapi& atapi, const TFlashState& state) {
  for (const TFoundDrive& d : FoundDrives(atapi, state, imageIdentity_)) {
    events_.Emit("drive", {{"index", d.listIndex >= 0 ? json(d.listIndex) : json(nullptr)},
                           {"node", TextOrNull(d.node)},
                           {"vendor", DriveBytes(d.vendor)},
                           {"product", DriveBytes(d.product)},
                           {"revision", DriveBytes(d.revision)},
                           {"matches", d.listIndex >= 0},
                           {"why_not", TextOrNull(d.whyNot)}});
  }
  if (human_ != nullptr) human_->Drives(atapi, state);
}

void TJsonReport::Outcome(const TDriveOutcome& outcome) {
  events_.Outcome(outcome);
  if (human_ != nullptr) human_->Outcome(outcome);
}

void TJsonReport::Error(const std::string& code, const std::string& message, int exitStatus,
                        bool shown) {
  events_.Error(code, message, exitStatus);
  if (human_ != nullptr) human_->Error(code, message, exitStatus, shown);
}

void TJsonReport::Signal(int signal) {
  const char* name = strsignal(signal);
  events_.Error("signal",
                "ended by signal " + std::to_string(signal) + " (" +
                    (name != nullptr ? name : "unknown") + ") that arrived during the run",
                128 + signal);
}

}  // namespace tavo
