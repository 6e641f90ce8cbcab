// Arbitrary container bytes through the container check, the header copy, staging,
// descrambling and both identity searches (the INQUIRY template and the design markers),
// directly and through the engine's start-up steps.
//
// The input is used twice: as the container itself, and spread out as a container whose
// 64-byte header is the input's first 64 bytes and whose banks each get an equal share of
// the rest at the start of their 64 KiB slot, so short inputs reach the banks too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"
#include "image/identity_format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::vector<uint8_t> Spread(const uint8_t* data, size_t size) {
  if (size < tavo::kImageHeaderSize) return {};
  const uint16_t count = static_cast<uint16_t>(data[34] | data[35] << 8);
  const size_t banks = std::min<size_t>(count, tavo::kMaxBanks);
  std::vector<uint8_t> out(tavo::kImageHeaderSize + banks * tavo::kBankSize, 0);
  std::copy_n(data, tavo::kImageHeaderSize, out.begin());
  const size_t rest = size - tavo::kImageHeaderSize;
  const size_t share = banks == 0 ? 0 : std::min(rest / banks, tavo::kBankSize);
  for (size_t b = 0; b < banks; ++b) {
    std::copy_n(
        data + tavo::kImageHeaderSize + b * share, share,
        out.begin() + static_cast<std::ptrdiff_t>(tavo::kImageHeaderSize + b * tavo::kBankSize));
  }
  return out;
}

void Exercise(std::span<const uint8_t> container, bool withEngine) {
  using namespace tavo;
  const TFirmwareImage image(container);
  const TImageHeader header = image.Header();
  std::vector<uint8_t> buffer(kBankSize);
  // The banks the header claims, and one past them (which must stage nothing). The
  // identity searches look at bank 0, as the engine does.
  const unsigned banks = std::min<unsigned>(header.BankCount, kMaxBanks);
  for (unsigned n = 0; n <= banks; ++n) {
    std::fill(buffer.begin(), buffer.end(), 0xA5);
    image.StageBank(n, buffer.data());
    const uint16_t length = n < kMaxBanks ? header.BankLength[n] : 0;
    Descramble(buffer.data(), length, header.ScrambleFlag);
    if (n != 0) continue;
    FindInquiryTemplate(buffer);
    FindUtf16Le(buffer, "Tavonix Design");
    FindUtf16Le(buffer, "Tavonix ODD");
  }

  if (!withEngine) return;
  // The engine's start-up steps over one virtual drive, the identity-check flag included.
  // Start-up only reads from the drive, so one drive (whose power-on firmware is costly to
  // build) serves every input.
  static TVirtualClock clock;
  static TVirtualBus bus(clock);
  if (bus.DriveCount() == 0) bus.AddDrive(*FindProfile("default"));
  fuzz::TQuietSink sink;
  TAtapiConfig config;
  config.passThroughPort = &bus;
  config.aspiPort = &bus;
  config.sink = &sink;
  config.clock = &clock;
  TAtapi atapi(config);
  TFlashState state;
  fuzz::TQuietPort ui;
  TFlashEngine engine(state, atapi, image, ui, clock);
  engine.CopyHeader();
  engine.BitBtn1Click();
  engine.FillDriveList();
  engine.SelectCurrentItem();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The raw bytes rarely pass the container check; the engine runs on the spread form,
  // and on the raw one only when that is all there is.
  const std::vector<uint8_t> spread = Spread(data, size);
  Exercise(std::span<const uint8_t>(data, size), spread.empty());
  if (!spread.empty()) Exercise(spread, true);
  return 0;
}
