// The run log as both front ends keep it: the header built from the session (program,
// transport, device node, drive identity and revision, image identity and checksum), every
// log line, the outcome. The files themselves are platform/'s TRunLog.
#pragma once

#include <string>

#include "drive/atapi.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"
#include "platform/run_log.h"
#include "session/options.h"
#include "session/run_outcome.h"

namespace tavo {

class TFlightRecorder;

class TRunRecord {
 public:
  // program: "tavoflash" or "tavoflash-cli"; extraPath: --log FILE (empty: none). The run
  // files go to TRunLog::DefaultDirectory().
  TRunRecord(std::string program, const TStartupOptions& options, const std::string& extraPath);

  // Every line the user sees in the log, in order.
  void Line(const std::string& text) { log_.Line(text); }
  // A run starts on the selected drive of state. The header notes what sysfs says of the
  // drive now (a report made later must not depend on the drive still being there), and
  // the flight recorder, when set, starts the run's recording beside the log.
  void Begin(const TAtapi& atapi, const TFlashState& state, const TFirmwareImage& image);
  // The run ended with this outcome (the paragraph the user was shown), also one refused
  // before anything was sent. Before the outcome the log gets "result: <OutcomeClassName>",
  // "old revision:" (the selected item's at Begin) and, when known, "new revision:" (the
  // old one when the drive was not changed).
  void End(const TRunFacts& facts, const std::string& text);
  // The program ends without a run (no drive matched): a journal line with the summary, no
  // log file (see TRunLog::EndWithoutRun); the image and the reasons have been shown.
  void EndWithoutRun(const TFirmwareImage& image, const std::string& summary,
                     const std::string& text);

  TRunLog& Log() { return log_; }
  // The session's flight recorder: each run then keeps its recording beside its log.
  void SetFlight(TFlightRecorder* flight) { flight_ = flight; }

 private:
  void EndFlight();

  std::string program_;
  std::string transport_;
  std::string oldRevision_;
  bool emulated_ = false;
  TFlightRecorder* flight_ = nullptr;
  TRunLog log_;
};

}  // namespace tavo
