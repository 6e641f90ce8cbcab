// What a virtual drive holds when it powers on (INQUIRY data, the older firmware in its
// flash) and what it runs once programming has ended.
#include <cstring>
#include <map>
#include <mutex>

#include "emulator/drive_state.h"
#include "image/identity_format.h"

namespace tavo {
namespace {

constexpr uint32_t kFlashSize = scsi::kMaxBanks * scsi::kBankSize;
constexpr uint32_t kInquiryTemplateOffset = 0x20;

// Fixed-length field of INQUIRY data: the text, blank-padded or cut to width.
void PutField(uint8_t* out, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0x20;
  }
}

// The older firmware: a deterministic pseudo-random fill per profile seed. Computing it costs
// far more than copying it, and test rigs and the fuzzer power drives on many thousands of
// times, so each seed's fill is made once. Map nodes never move, so the reference stays valid.
const std::vector<uint8_t>& OlderFirmware(uint32_t seed) {
  static std::mutex mutex;
  static auto* const fills = new std::map<uint32_t, std::vector<uint8_t>>;  // never destroyed
  const std::lock_guard<std::mutex> lock(mutex);
  auto [it, made] = fills->try_emplace(seed);
  if (made) {
    std::vector<uint8_t>& fill = it->second;
    fill.resize(kFlashSize);
    uint32_t x = seed;
    for (auto& b : fill) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x >> 24);
    }
  }
  return it->second;
}

struct TSpares {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> blocks;
};
constexpr size_t kMaxSpares = 8;

// Never destroyed: a drive owned by a static object may still hand its block back at exit.
TSpares& Spares() {
  static TSpares* const spares = new TSpares;
  return *spares;
}

}  // namespace

std::vector<uint8_t> TakeSpareFlash() {
  TSpares& spares = Spares();
  const std::lock_guard<std::mutex> lock(spares.mutex);
  if (spares.blocks.empty()) return {};
  std::vector<uint8_t> flash = std::move(spares.blocks.back());
  spares.blocks.pop_back();
  return flash;
}

void KeepSpareFlash(std::vector<uint8_t>&& flash) {
  if (flash.capacity() < kFlashSize) return;
  TSpares& spares = Spares();
  const std::lock_guard<std::mutex> lock(spares.mutex);
  if (spares.blocks.size() < kMaxSpares) spares.blocks.push_back(std::move(flash));
}

void TVirtualDrive::TImpl::PowerOn() {
  // INQUIRY data: CD/DVD device, removable, 96 bytes, identity, revision, family.
  inquiry.fill(0);
  inquiry[0] = scsi::kDeviceTypeOptical;
  inquiry[1] = 0x80;
  inquiry[2] = 0x00;
  inquiry[3] = 0x32;
  inquiry[4] = static_cast<uint8_t>(kInquirySize - 5);
  PutField(&inquiry[scsi::kInquiryVendorByte], profile.vendor, scsi::kInquiryVendorLength);
  PutField(&inquiry[scsi::kInquiryProductByte], profile.product, scsi::kInquiryProductLength);
  PutField(&inquiry[scsi::kInquiryRevisionByte], profile.revision, scsi::kInquiryRevisionLength);
  inquiry[38] = profile.family[0];
  inquiry[39] = profile.family[1];

  if (flash.capacity() < kFlashSize) flash = TakeSpareFlash();
  flash = OlderFirmware(profile.firmwareSeed != 0 ? profile.firmwareSeed : 0x1234567u);
  // Nothing before the template may look like one (byte 0 of a template is 05h).
  for (uint32_t p = 0; p < kInquiryTemplateOffset; ++p) {
    if (flash[p] == scsi::kDeviceTypeOptical) flash[p] = scsi::kDeviceTypeOptical + 1;
  }
  std::memcpy(&flash[kInquiryTemplateOffset], inquiry.data(), inquiry.size());
  const std::vector<uint8_t> marker = Utf16Le(profile.marker);
  if (!marker.empty() && marker.size() <= scsi::kBankSize &&
      profile.markerOffset <= scsi::kBankSize - marker.size()) {
    std::memcpy(&flash[profile.markerOffset], marker.data(), marker.size());
  }
}

// After programming the drive runs the new firmware: its INQUIRY answers with the identity,
// revision and family of the template the new bank 0 carries, when it carries one.
void TVirtualDrive::TImpl::AdoptTemplateFromFlash() {
  const std::optional<size_t> at = FindInquiryTemplate({flash.data(), scsi::kBankSize});
  if (!at) return;
  const uint8_t* t = &flash[*at];
  std::memcpy(&inquiry[scsi::kInquiryVendorByte], t + scsi::kInquiryVendorByte,
              scsi::kInquiryIdentityLength + scsi::kInquiryRevisionLength);
  inquiry[38] = t[38];
  inquiry[39] = t[39];
}

void TVirtualDrive::TImpl::UpdateProgramming() {
  if (!programming || profile.ready == TReadyBehaviour::NeverReady) return;
  if (clock.NowMs() < programmingEndMs) return;
  programming = false;
  phase = TFlashPhase::Programmed;
  AdoptTemplateFromFlash();
  StoredChanged();
  if (profile.ready == TReadyBehaviour::EmptyAfterProgramming) mediumPresent = false;
}

}  // namespace tavo
