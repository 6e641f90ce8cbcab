// The window side of TAtapi's way to the user: plain OK boxes and one round of events.
// From the flash worker thread a box is shown by the GUI thread while the worker waits, and
// there are no events to pump.
#pragma once

#include "app/dialogs.h"
#include "drive/ports.h"

namespace tavo {

class TQtAtapiSink final : public TAtapiSink {
 public:
  explicit TQtAtapiSink(TDialogs& dialogs) : dialogs_(dialogs) {}
  void ShowPlainMessage(const std::string& text) override;
  void PumpMessage() override;

 private:
  TDialogs& dialogs_;
};

}  // namespace tavo
