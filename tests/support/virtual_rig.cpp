#include "tests/support/virtual_rig.h"

#include <gtest/gtest.h>

namespace tavo::test {

std::unique_ptr<TAtapi> MakeVirtualAtapi(TVirtualBus& bus, TAtapiSink& sink, TClock& clock,
                                         bool aspi) {
  TAtapiConfig config;
  config.passThrough = !aspi;
  config.passThroughPort = &bus;
  config.aspiPort = &bus;
  config.sink = &sink;
  config.clock = &clock;
  return std::make_unique<TAtapi>(config);
}

void TVirtualRig::Attach(const std::vector<TDriveProfile>& profiles, bool aspi) {
  engine.reset();
  atapi = nullptr;
  session.reset();
  bus = std::make_unique<TVirtualBus>(clock);
  for (const TDriveProfile& p : profiles) bus->AddDrive(p);
  options.emulate = true;
  options.aspi = aspi;
  Reopen();
}

void TVirtualRig::AttachReplay(const std::string& path) {
  engine.reset();
  atapi = nullptr;
  session.reset();
  bus.reset();
  options = {};
  options.emulate = true;
  options.replayFile = path;
  session = std::make_unique<TDriveSession>(options, clock, sink);
  EXPECT_TRUE(session->Ok()) << session->Error();
  if (session->Ok()) atapi = &session->Atapi();
}

void TVirtualRig::Reopen() {
  engine.reset();
  atapi = nullptr;
  session.reset();
  session = std::make_unique<TDriveSession>(options, clock, sink,
                                            TSessionPorts{bus.get(), bus.get(), true});
  EXPECT_TRUE(session->Ok()) << session->Error();
  if (session->Ok()) atapi = &session->Atapi();
  ClearHistories();
}

void TVirtualRig::StartUp(const TFirmwareImage* image) {
  engine =
      std::make_unique<TFlashEngine>(state, *atapi, image ? *image : EmbeddedImage(), ui, clock);
  TConfirmingHooks hooks;
  RunStartup(*engine, state, ui, hooks);
  ui.Clear();
  ClearHistories();
}

void TVirtualRig::SelectRow(int row) {
  state.items = {TFlashEngine::DriveItemText(atapi->Drive(row))};
  state.driveMap[0] = row;
  state.selectedItem = 0;
  atapi->SelectDrive(row);
}

std::vector<TCommandRecord> TVirtualRig::Commands(TCommandKind kind, int k) const {
  std::vector<TCommandRecord> out;
  for (const TCommandRecord& r : bus->Drive(k).History()) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

std::vector<TCommandKind> TVirtualRig::Kinds(int k) const {
  std::vector<TCommandKind> out;
  for (const TCommandRecord& r : bus->Drive(k).History()) out.push_back(r.kind);
  return out;
}

void TVirtualRig::ClearHistories() {
  if (!bus) return;
  for (int k = 0; k < bus->DriveCount(); ++k) bus->Drive(k).ClearHistory();
}

}  // namespace tavo::test
