#include "flash/flash_engine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "drive/scsi.h"
#include "flash/engine_common.h"

namespace tavo {

namespace engine {

std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string FieldText(const char* field, size_t max) {
  return std::string(field, strnlen(field, max));
}

}  // namespace engine

using namespace engine;

TFlashEngine::TFlashEngine(TFlashState& state, TAtapi& atapi, const TFirmwareImage& image,
                           TUserPort& ui, TClock& clock)
    : state_(state), atapi_(atapi), image_(&image), ui_(ui), clock_(clock) {}

std::optional<std::vector<uint8_t>> TFlashEngine::ObtainBuffer(size_t size) {
  if (failAllocationIn_ > 0 && --failAllocationIn_ == 0) return std::nullopt;
  try {
    return std::vector<uint8_t>(size, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

void TFlashEngine::ReportPhase(const TPhase& phase) {
  phase_ = phase;
  ui_.SetPhase(phase);
}

void TFlashEngine::SetRange(int minimum, int maximum) {
  progressMax_ = maximum;
  ui_.SetProgressRange(minimum, maximum);
}

uint16_t TFlashEngine::BankLength(unsigned bank) const {
  return bank < state_.header.BankLength.size() ? state_.header.BankLength[bank] : 0;
}

// ---------------------------------------------------------------------------------------
// Flash run

void TFlashEngine::NoteWrite(TWriteCount& count, uint8_t status) {
  ++count.sent;
  if (status == 1) {
    ++count.accepted;
  } else if (atapi_.LastSenseKey() == scsi::kIllegalRequest) {
    ++count.refused;
  }
}

void TFlashEngine::ClearRunFacts() {
  lastRunVerified_ = false;
  writes_ = {};
  flashStatus_.reset();
  flashStatusAsked_ = false;
  verifyFailure_ = TVerifyFailure::None;
  stop_ = TRunStop::None;
  nothingAttempted_ = false;
  backupRefused_ = false;
  backupPath_.clear();
  phase_.reset();
}

void TFlashEngine::BitBtn2Click() {
  ClearRunFacts();
  if (state_.edit1.empty()) {
    ui_.AddLog("Err:File Error !!");
    return;
  }
  running_ = true;
  ui_.SetControlEnabled(TControl::SelDevice, false);
  ui_.RepaintControl(TControl::SelDevice);
  ui_.SetProgress(10);
  ui_.SetProgress(20);
  atapi_.StopPlayScan();
  atapi_.StartStopUnit();
  ui_.SetControlEnabled(TControl::BitBtn2, false);
  ui_.SetControlEnabled(TControl::BitBtn3, false);
  RunFlash();
  ui_.SetControlEnabled(TControl::BitBtn2, true);
  ui_.SetControlEnabled(TControl::BitBtn3, true);
  running_ = false;
}

void TFlashEngine::RunFlash() {
  ClearRunFacts();
  [&] {
    ReportPhase({.kind = TPhaseKind::CheckingDrive});
    if (!FamilyGate()) return;
    if (IsSpecialModelItem(state_.SelectedItemText())) state_.selectedIsSpecialModel = 1;
    if (!CheckModel()) return;
    // Whatever may still stop the run without writing comes before the backup: the plan of
    // the patch refresh (reads only) and, where the marker check applies, the search in the
    // firmware as the rewrite will leave it (what the read-only check predicts). After a
    // rewrite the search is made once more in the drive itself.
    const bool markerCheck = state_.imageHasDesignMarker && state_.selectedIsSpecialModel;
    std::optional<TPatchRewrite> rewrite;
    if (!PlanPatchRefresh(rewrite)) return;
    if (markerCheck && !PredictDesignMarker(rewrite)) return;
    // The drive's memory is kept before the first command that writes (the patch refresh).
    if (!BackUpDrive()) return;
    ReportPhase({.kind = TPhaseKind::RefreshingPatch});
    if (rewrite) {
      RewritePatchRegion(*rewrite);
      if (markerCheck && !CheckDesignMarker()) return;
    }
    if (!FlashImage()) return;
    ui_.SetProgress(100);
    ui_.AddLog("Flash Complete!!");
    if (!VerifyFlash()) return;
    ui_.AddLog("Firmware Verify ok!!");
    lastRunVerified_ = true;
  }();
  ui_.SetControlEnabled(TControl::SelDevice, true);
}

}  // namespace tavo
