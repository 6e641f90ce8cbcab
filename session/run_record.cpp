#include "session/run_record.h"

#include <utility>
#include <vector>

#include "drive/linux/device_facts.h"
#include "session/drive_report.h"
#include "session/flight_recorder.h"
#include "session/version.h"

namespace tavo {

namespace {

// The image line of the version text: identity, checksum, banks.
std::string ImageLine(const TFirmwareImage& image) {
  const std::string text = VersionText("", image);
  const std::string marker = "firmware image: ";
  const size_t at = text.find(marker);
  std::string line = at == std::string::npos ? text : text.substr(at + marker.size());
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

TRunRecord::TRunRecord(std::string program, const TStartupOptions& options,
                       const std::string& extraPath)
    : program_(std::move(program)),
      transport_(std::string(options.aspi ? "sg driver (/dev/sgN)" : "SG_IO (/dev/srN)") +
                 (options.emulate ? ", virtual drives" : "")),
      emulated_(options.emulate),
      log_(TRunLog::DefaultDirectory(), extraPath) {}

void TRunRecord::Begin(const TAtapi& atapi, const TFlashState& state, const TFirmwareImage& image) {
  const std::string device = ItemDevice(atapi, state, state.selectedItem);
  oldRevision_ = ItemRevision(state.SelectedItemText());
  log_.Begin(
      {{"program", program_ + " " + ProgramVersion()},
       {"transport", transport_},
       {"device", device.empty() ? "unknown" : device},
       {"drive", state.SelectedItemText()},
       {"image", ImageLine(image)},
       // What the kernel says of the drive, kept now: a report made later must not
       // depend on the drive still being there.
       {"sysfs", emulated_ ? "none (virtual drive)" : DeviceFactsText(ReadDeviceFacts(device))}});
  if (flight_ != nullptr) {
    std::string error;
    if (!flight_->StartFile(log_.Path(), error) && !error.empty()) {
      log_.Line("The run's recording is not kept: " + error);
    }
  }
}

void TRunRecord::EndFlight() {
  if (flight_ != nullptr) flight_->EndFile();
}

void TRunRecord::End(const TRunFacts& facts, const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"result", OutcomeClassName(facts.outcome)}, {"old revision", oldRevision_}};
  // A drive nothing was written to still runs what it ran; after a run that wrote and did
  // not verify, nobody knows.
  const std::string newRevision = OutcomeChanged(facts.outcome) ? facts.newRevision : oldRevision_;
  if (!newRevision.empty()) fields.emplace_back("new revision", newRevision);
  log_.End(OutcomeSummary(facts), text, fields);
  EndFlight();
}

void TRunRecord::EndWithoutRun(const TFirmwareImage&, const std::string& summary,
                               const std::string&) {
  log_.EndWithoutRun(summary);
}

}  // namespace tavo
