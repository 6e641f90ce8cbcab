#include "session/startup.h"

namespace tavo {

TStartupOutcome RunStartup(TFlashEngine& engine, TFlashState& state, TUserPort& ui,
                           TStartupHooks& hooks) {
  engine.CopyHeader();
  engine.BitBtn1Click();
  hooks.ShowImageIdentity(state.edit1);
  if (!hooks.Confirm(TFlashEngine::ConfirmationText(state.edit1))) {
    return TStartupOutcome::Cancelled;
  }

  engine.FillDriveList();
  TStartupOutcome outcome = TStartupOutcome::Ready;
  if (state.SelectedItemText().empty()) {
    if (!hooks.NoMatchingDrive()) return TStartupOutcome::NoDrive;
    outcome = TStartupOutcome::NoDrive;
  } else {
    if (!hooks.ChooseDrive(state)) return TStartupOutcome::Stopped;
    engine.SelectCurrentItem();
  }

  hooks.ShowSelection(TFlashEngine::CaptionFor(state.edit1), state.SelectedItemText());
  for (const char* line : TFlashEngine::kNoticeLines) {
    ui.AddLog(line);
  }
  return outcome;
}

}  // namespace tavo
