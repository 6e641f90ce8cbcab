// Arbitrary text as a session recording: the recording reader checks it, and a recording
// it accepts is then replayed as a drive. The programs' drive session discovers the drive
// from the recorded facts and the drive check runs over it on a virtual clock, on the
// recording's transport.
//
// Every refusal must name a line; the replay may diverge from the recording at any point
// (that is reported and ends the replay) but must never crash.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "emulator/recording_reader.h"
#include "emulator/replay_bus.h"
#include "flash/drive_check.h"
#include "image/firmware_image.h"
#include "session/drive_session.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavo;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::string error;
  std::optional<TRecording> recording = ReadRecording(in, error);
  if (!recording) {
    if (error.rfind("line ", 0) != 0) __builtin_trap();  // a refusal without its line
    return 0;
  }
  TVirtualClock clock;
  const bool aspi = recording->aspi;
  TReplayBus bus(std::move(*recording), clock);
  fuzz::TQuietSink sink;
  TStartupOptions options;
  options.emulate = true;
  options.aspi = aspi;
  TDriveSession session(options, clock, sink, TSessionPorts{&bus, &bus, true});
  if (!session.Ok()) __builtin_trap();  // the session refused ports it was given

  // The image only views its bytes: they live as long as the process.
  static const std::vector<uint8_t> bytes =
      fuzz::SmallImage(0x20, 0x00, "TAVO    QRD-1040C       1.08", 'W', '0');
  static const TFirmwareImage image(bytes);
  CheckDrives(session.Atapi(), image, clock);
  return 0;
}
