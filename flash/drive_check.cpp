#include "flash/drive_check.h"

#include <algorithm>
#include <string>

#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"

namespace tavo {

namespace {

// Gives back what the check claimed on every way out.
struct TClaimsRelease {
  TDriveClaims* claims;
  ~TClaimsRelease() {
    if (claims != nullptr) claims->ReleaseAll();
  }
};

}  // namespace

TCheckReport CheckDrives(TAtapi& atapi, const TFirmwareImage& image, TClock& clock,
                         TDriveClaims* claims, int onlyItem, const std::string& onlyDevice) {
  TCheckReport report;
  TFlashState state;
  TLogOnlyPort port;  // a check asks nothing
  TFlashEngine engine(state, atapi, image, port, clock);
  const int count = std::clamp(atapi.DriveCount(), 0, kDriveTableRows);
  const TClaimsRelease release{claims};
  std::vector<int32_t> busy;
  for (int row = 0; claims != nullptr && row < count; ++row) {
    if (!claims->Claim(atapi.DeviceName(row))) busy.push_back(row);
  }
  engine.SetOffLimitsRows(busy);
  engine.CopyHeader();
  engine.BitBtn1Click();
  report.imageIdentity = state.edit1;
  if (state.edit1.empty()) {
    // A run stops at its first step with this line (after any the image check logged).
    report.imageStopLine = port.lines.empty() ? "Err:File Error !!" : port.lines.back();
    return report;
  }
  engine.FillDriveList();
  const std::vector<std::string> items = state.items;
  for (int row = 0; row < count; ++row) {
    TDriveVerdict verdict;
    verdict.row = row;
    verdict.item = TFlashEngine::DriveItemText(atapi.Drive(row));
    verdict.device = atapi.DeviceName(row);
    verdict.busy = std::find(busy.begin(), busy.end(), row) != busy.end();
    for (size_t i = 0; i < items.size() && i < state.driveMap.size(); ++i) {
      if (state.driveMap[i] == row) verdict.listIndex = static_cast<int>(i);
    }
    const bool scoped = onlyItem >= 0 || !onlyDevice.empty();
    if (scoped && (onlyItem < 0 || verdict.listIndex != onlyItem) &&
        (onlyDevice.empty() || verdict.device != onlyDevice)) {
      continue;  // not the drive asked about
    }
    if (verdict.listIndex < 0 || verdict.busy) {
      report.drives.push_back(std::move(verdict));
      continue;
    }
    // The run's checks, in the run's order, on this drive.
    state.selectedItem = verdict.listIndex;
    state.selectedIsSpecialModel = 0;
    engine.SelectCurrentItem();
    port.lines.clear();
    bool ok = engine.FamilyGate();
    if (ok) {
      state.selectedIsSpecialModel = TFlashEngine::IsSpecialModelItem(verdict.item) ? 1 : 0;
      ok = engine.CheckModel();
    }
    if (ok && state.imageHasDesignMarker && state.selectedIsSpecialModel) {
      // The run refreshes the patch region before it searches: search what it will see.
      std::optional<TPatchRewrite> rewrite;
      ok = engine.PlanPatchRefresh(rewrite) && engine.PredictDesignMarker(rewrite);
    }
    verdict.passes = ok;
    if (!ok) verdict.stopLine = port.lines.empty() ? std::string() : port.lines.back();
    report.drives.push_back(std::move(verdict));
  }
  return report;
}

std::vector<std::string> CheckReportLines(const TCheckReport& report) {
  if (!report.imageStopLine.empty()) {
    return {"check: every run stops at the image: " + report.imageStopLine};
  }
  std::vector<std::string> lines;
  bool listed = false;
  for (const TDriveVerdict& v : report.drives) {
    if (v.listIndex < 0) {
      lines.push_back("check: " + v.item + ": not listed, the image is for " +
                      report.imageIdentity);
      continue;
    }
    if (v.busy) {
      lines.push_back("check: [" + std::to_string(v.listIndex) + "] " + v.item +
                      ": not checked: " + v.device + " is being flashed by another program");
      listed = true;
      continue;
    }
    listed = true;
    const std::string head = "check: [" + std::to_string(v.listIndex) + "] " + v.item;
    lines.push_back(v.passes ? head + ": a run would get past the checks"
                             : head + ": a run would stop with: " + v.stopLine);
  }
  if (!listed) lines.emplace_back("Can't find the device to upgrade !!");
  return lines;
}

}  // namespace tavo
