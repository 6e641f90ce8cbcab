// tavoflash-cli --json: every object the program writes on standard output, one per line
// (JSON Lines), each with "format_version" and "event". docs/json.md describes the events
// and docs/json.schema.json is their schema; keys are snake_case and never renamed.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli_report.h"
#include "flash/phase.h"
#include "image/firmware_image.h"
#include "session/options.h"

namespace tavo {

inline constexpr int kJsonFormatVersion = 1;

// The snake_case name of a phase kind ("sending_bank", ...).
const char* PhaseName(TPhaseKind kind);

class TJsonEvents {
 public:
  explicit TJsonEvents(std::FILE* out = stdout) : out_(out) {}

  // Writes one event: the object with format_version and event added, one line, flushed.
  // Once the reader has gone (a write failed with EPIPE) nothing more is written: the run
  // goes on and ends as it would have.
  void Emit(const std::string& event, nlohmann::ordered_json fields);

  void Start(const TFirmwareImage& image, const TStartupOptions& options);
  // node: the drive the line or phase belongs to (empty outside a run: JSON null).
  void Line(const std::string& node, const std::string& text);
  void Phase(const std::string& node, const TPhase& phase);
  void Outcome(const TDriveOutcome& outcome);
  void Error(const std::string& code, const std::string& message, int exitStatus);

 private:
  std::FILE* out_;
  bool readerGone_ = false;
};

// A JSON string, or null for an empty text.
nlohmann::ordered_json TextOrNull(const std::string& text);

// The report as events: "drive" per drive found, "outcome" per run, "error", and the human
// words on a second report when one is given (standard error on a terminal).
class TJsonReport final : public TCliReport {
 public:
  TJsonReport(TJsonEvents& events, const std::string& imageIdentity, TCliReport* human)
      : events_(events), imageIdentity_(imageIdentity), human_(human) {}
  void Drives(const TAtapi& atapi, const TFlashState& state) override;
  void Outcome(const TDriveOutcome& outcome) override;
  void Error(const std::string& code, const std::string& message, int exitStatus,
             bool shown) override;
  void Signal(int signal) override;

 private:
  TJsonEvents& events_;
  std::string imageIdentity_;
  TCliReport* human_;
};

}  // namespace tavo
