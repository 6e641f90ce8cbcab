#include <algorithm>
#include <cstring>
#include <vector>

#include "flash/engine_common.h"
#include "flash/flash_engine.h"
#include "image/identity_format.h"

namespace tavo {

using namespace engine;

namespace {

constexpr uint16_t kFirmwareReadLength = 0xFFFE;

constexpr const char* kLegacyModels[6] = {
    "TAVO    QRD-0710C", "TAVO    QRD-0820C", "TAVO    QRD-0930C",
    "TAVO    QRD-1040C", "TAVO    QRD-1150C", "TAVO    QRD-1260C",
};
constexpr size_t kLegacyEntryLength = 17;

}  // namespace

// ---------------------------------------------------------------------------------------
// Identity checks

bool TFlashEngine::IsSpecialModelItem(const std::string& item) {
  return item.size() >= 8 + kSpecialModelLength &&
         item.compare(8, kSpecialModelLength, kSpecialModel) == 0;
}

bool TFlashEngine::DriveHasImageFamily() {
  uint8_t reply[100] = {};  // Inquiry fills 50; a failed one leaves FamilyCode 00h 00h
  atapi_.Inquiry(reply);
  return reply[38] == state_.imageFamilyCode[0] && reply[39] == state_.imageFamilyCode[1];
}

bool TFlashEngine::CheckFamily() {
  if (DriveHasImageFamily()) return true;
  ui_.AddLog("Err:The firmware is not support this device!!(4)");
  return false;
}

bool TFlashEngine::FamilyGate() {
  uint8_t reply[100] = {};  // Inquiry fills 50
  atapi_.Inquiry(reply);
  if (reply[38] == 'W' && reply[39] == '0') {
    for (const char* entry : kLegacyModels) {
      if (std::memcmp(reply + 8, entry, kLegacyEntryLength) == 0) return true;
    }
    ui_.AddLog("Err: Cannot update this device use this update file!!");
    return false;
  }
  return restore_ || CheckFamily();
}

bool TFlashEngine::CheckModel() {
  const std::string image = state_.edit1.substr(0, kIdentityLength);
  std::string drive;
  if (const int32_t row = SelectedRow(); row >= 0) {
    drive = FieldText(atapi_.Drive(row).Identity, kIdentityLength);
  }
  if (image == drive) return true;
  ui_.AddLog("The Firmware isn't support this device !!(3)");
  return false;
}

bool TFlashEngine::CheckDesignMarker(const TPatchRewrite* overlay) {
  auto buffer = ObtainBuffer(kWorkBufferSize);
  if (!buffer) {
    // Without the buffer the firmware cannot be searched: no marker is found.
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  uint8_t* buf = buffer->data();
  const bool read = atapi_.ReadFirmware(buf, kFirmwareReadLength) == 1;
  // The firmware read starts at offset 0 of bank 0: a rewrite of a patch region there
  // replaces those bytes before the run searches.
  if (read && overlay != nullptr && overlay->bank == 0 && overlay->start < kFirmwareReadLength) {
    const uint32_t end = std::min<uint32_t>(overlay->WrittenEnd(), kFirmwareReadLength);
    std::memcpy(buf + overlay->start, overlay->staged.data() + overlay->start,
                end - overlay->start);
  }
  const std::vector<uint8_t> odd = Utf16Le("Tavonix ODD");
  const std::vector<uint8_t> design = Utf16Le("Tavonix Design");
  constexpr int kLast = kFirmwareReadLength - 1;  // 65,533
  SetRange(0, kLast);
  for (int p = 0; p <= kLast; ++p) {
    ui_.ProcessMessages();
    ui_.SetProgress(p);
    const size_t pos = static_cast<size_t>(p);
    if (pos + odd.size() <= kFirmwareReadLength &&
        std::memcmp(buf + pos, odd.data(), odd.size()) == 0) {
      return true;
    }
    if (pos + design.size() <= kFirmwareReadLength &&
        std::memcmp(buf + pos, design.data(), design.size()) == 0) {
      return true;
    }
  }
  ui_.AddLog("This firmware isn't support !!(10)");
  return false;
}

}  // namespace tavo
