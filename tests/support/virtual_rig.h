// Virtual drives on a virtual clock, the programs' own drive session (and so the real
// TAtapi) over them, and the flash engine on top: the rig the flash, terminal and window
// tests build their cases on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"
#include "session/drive_session.h"
#include "session/startup.h"
#include "tests/support/recording.h"

namespace tavo::test {

// Start-up hooks with fixed answers: OK to the confirmation, the first drive.
class TConfirmingHooks final : public TStartupHooks {
 public:
  bool Confirm(const std::string&) override { return true; }
  bool NoMatchingDrive() override { return false; }
};

// A real TAtapi over the bus's drives (pass-through, or the ASPI-style transport).
std::unique_ptr<TAtapi> MakeVirtualAtapi(TVirtualBus& bus, TAtapiSink& sink, TClock& clock,
                                         bool aspi = false);

struct TVirtualRig {
  // (Re)builds the bus with one drive per profile and the drive session over it; drops the
  // engine. The drives' command histories start empty.
  void Attach(const std::vector<TDriveProfile>& profiles, bool aspi = false);
  // (Re)builds the drive session over a replay of the recording at path (the recording's
  // transport); there is no bus then.
  void AttachReplay(const std::string& path);
  // A new drive session (a new TAtapi, so drives are discovered again) over the same bus.
  void Reopen();
  // Builds the engine on the image (the embedded one by default) and runs the start-up
  // sequence with TConfirmingHooks; then clears the port's record and the histories.
  void StartUp(const TFirmwareImage* image = nullptr);
  // Selects drive-table row as the only list item, whatever its identity.
  void SelectRow(int row);

  // Commands drive k received of one kind, in order; every command's kind.
  std::vector<TCommandRecord> Commands(TCommandKind kind, int k = 0) const;
  std::vector<TCommandKind> Kinds(int k = 0) const;
  void ClearHistories();

  TVirtualClock clock;
  TRecordingSink sink;
  std::unique_ptr<TVirtualBus> bus;
  TStartupOptions options;  // --emulate, and the transport Attach was given
  std::unique_ptr<TDriveSession> session;
  TAtapi* atapi = nullptr;  // the session's
  TFlashState state;
  TRecordingPort ui;
  std::unique_ptr<TFlashEngine> engine;
};

}  // namespace tavo::test
