#include "session/run_record.h"

#include <utility>
#include <vector>

#include "session/drive_report.h"
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
      log_(TRunLog::DefaultDirectory(), extraPath) {}

void TRunRecord::Begin(const TAtapi& atapi, const TFlashState& state, const TFirmwareImage& image) {
  const std::string device = ItemDevice(atapi, state, state.selectedItem);
  oldRevision_ = ItemRevision(state.SelectedItemText());
  log_.Begin({{"program", program_ + " " + ProgramVersion()},
              {"transport", transport_},
              {"device", device.empty() ? "unknown" : device},
              {"drive", state.SelectedItemText()},
              {"image", ImageLine(image)}});
}

void TRunRecord::End(const TRunFacts& facts, const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"result", OutcomeClassName(facts.outcome)}, {"old revision", oldRevision_}};
  // A drive nothing was written to still runs what it ran; after a run that wrote and did
  // not verify, nobody knows.
  const std::string newRevision = OutcomeChanged(facts.outcome) ? facts.newRevision : oldRevision_;
  if (!newRevision.empty()) fields.emplace_back("new revision", newRevision);
  log_.End(OutcomeSummary(facts), text, fields);
}

void TRunRecord::EndWithoutRun(const TFirmwareImage&, const std::string& summary,
                               const std::string&) {
  log_.EndWithoutRun(summary);
}

}  // namespace tavo
