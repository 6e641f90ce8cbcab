// Hostile drive replies: the virtual drives answer every command, then the fuzz input
// rewrites each reply (data-in bytes, status, sense, transport fault, refusal, lost
// completion). The programs' own drive session (and so the real TAtapi) and start-up
// sequence, then TFlashEngine's whole flash run, go over it on a virtual clock, on either
// transport.
//
// Input: byte 0 bit 0 ASPI, bits 1-2 drive count - 1 (at most 3), bit 3 identity-check flag
// 10h, bit 4 scrambled image; then one profile index per drive; the rest steers the replies
// (and, once the list is up, which listed drive is chosen).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"
#include "session/drive_session.h"
#include "session/startup.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const std::vector<uint8_t>& Image(int variant) {
  static const std::vector<uint8_t> images[4] = {
      tavo::fuzz::SmallImage(0x20, 0x00, "TAVO    QRD-1040C       1.08", 'W', '0'),
      tavo::fuzz::SmallImage(0x10, 0x00, "TAVO    QRD-1040C       1.08", 'W', '0'),
      tavo::fuzz::SmallImage(0x20, 0x01, "TAVO    QRD-1040C       1.08", 'W', '0'),
      tavo::fuzz::SmallImage(0x10, 0x01, "TAVO    QRD-1040C       1.08", 'W', '0'),
  };
  return images[variant & 3];
}

// Answers OK, picks the listed drive the input names and goes on when none matches (as the
// window does), so Start is pressed on every input.
class TFuzzHooks final : public tavo::TStartupHooks {
 public:
  explicit TFuzzHooks(tavo::fuzz::TInput& in) : in_(in) {}
  bool Confirm(const std::string&) override { return true; }
  bool ChooseDrive(tavo::TFlashState& state) override {
    if (!state.items.empty()) state.selectedItem = in_.Byte() % state.items.size();
    return true;
  }
  bool NoMatchingDrive() override { return true; }

 private:
  tavo::fuzz::TInput& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavo;
  fuzz::TInput in(data, size);
  const uint8_t setup = in.Byte();
  const bool aspi = (setup & 0x01) != 0;
  const int drives = 1 + (setup >> 1 & 0x03) % 3;
  const int variant = (setup >> 3 & 0x01) | (setup >> 3 & 0x02);

  TVirtualClock clock;
  TVirtualBus bus(clock);
  const auto& names = ProfileNames();
  for (int k = 0; k < drives; ++k) bus.AddDrive(*FindProfile(names[in.Byte() % names.size()]));

  fuzz::TMutatingPort port(bus, clock, in);
  fuzz::TQuietSink sink;
  TStartupOptions options;
  options.emulate = true;
  options.aspi = aspi;
  TDriveSession session(options, clock, sink, TSessionPorts{&port, &port, true});
  if (!session.Ok()) __builtin_trap();  // the session refused ports it was given

  const TFirmwareImage image(Image(variant));
  TFlashState state;
  fuzz::TQuietPort ui;
  TFlashEngine engine(state, session.Atapi(), image, ui, clock);
  TFuzzHooks hooks(in);
  RunStartup(engine, state, ui, hooks);
  engine.BitBtn2Click();
  return 0;
}
