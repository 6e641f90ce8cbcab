// The start-up sequence both front ends and the tests run before a flash run: the image
// header copy, the image identity, the confirmation question, the list of matching
// drives, the selection, the caption and the notice lines. Each front end takes part
// through TStartupHooks: the window with its boxes and controls, the terminal with its
// options and prompts, the tests with fixed answers.
//
// Typical use:
//   TMyHooks hooks;  // implements TStartupHooks
//   switch (RunStartup(engine, state, ui, hooks)) { ... }
#pragma once

#include <string>

#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"

namespace tavo {

class TStartupHooks {
 public:
  virtual ~TStartupHooks() = default;
  // The image identity is known (state.edit1; empty when the image has none).
  virtual void ShowImageIdentity(const std::string& /*identity*/) {}
  // The confirmation question, asked before anything is sent to a drive for the list.
  // True for OK.
  virtual bool Confirm(const std::string& question) = 0;
  // The matching drives are listed (state.items, item state.selectedItem selected). The
  // front end may show them and choose another item (state.selectedItem). False stops the
  // start-up here (the terminal's --list, or a list index that does not exist).
  virtual bool ChooseDrive(TFlashState& /*state*/) { return true; }
  // No drive matches the image. True: the start-up still shows the caption and the notice
  // lines (the window, which closes afterwards); false: it stops here.
  virtual bool NoMatchingDrive() = 0;
  // The caption ("<product> Firmware Updater") and the selected item's text (empty when
  // no drive matches).
  virtual void ShowSelection(const std::string& /*caption*/, const std::string& /*selected*/) {}
};

enum class TStartupOutcome {
  Ready,      // a drive is selected, caption and notice lines are shown
  Cancelled,  // the confirmation was answered Cancel; no drive was listed
  NoDrive,    // no drive matches the image
  Stopped,    // the front end stopped after the list (ChooseDrive returned false)
};

// Runs the start-up steps in their fixed order. The notice lines go to ui's log.
TStartupOutcome RunStartup(TFlashEngine& engine, TFlashState& state, TUserPort& ui,
                           TStartupHooks& hooks);

}  // namespace tavo
