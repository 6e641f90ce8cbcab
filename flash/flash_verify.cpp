#include <algorithm>

#include "drive/scsi.h"
#include "flash/flash_engine.h"

namespace tavo {

// ---------------------------------------------------------------------------------------
// Verification and restart

bool TFlashEngine::VerifyFlash() {
  clock_.Sleep(5000);
  const std::optional<uint16_t> sum = ReadBackChecksum();
  // A failed read fails the verification whatever the image checksum is.
  if (sum && *sum == state_.header.Checksum) return true;
  ui_.AddLog("Err:Verify NG !!");
  return false;
}

std::optional<uint16_t> TFlashEngine::ReadBackChecksum() {
  uint32_t sum = 0;
  SetRange(0, progressMax_);
  for (uint16_t i = 0; i < state_.header.BankCount; ++i) {
    const uint32_t len = BankLength(i);
    ui_.SetProgress(0);
    SetRange(0, static_cast<int>(len));
    for (uint32_t offset = 0; offset < len; offset += scsi::kMemoryPieceLength) {
      ui_.ProcessMessages();
      ui_.SetProgress(static_cast<int>(offset));
      ui_.RepaintProgress();
      uint8_t piece[scsi::kMemoryPieceLength] = {};
      if (atapi_.ReadMemory(piece, static_cast<uint8_t>(i & 0xFF), static_cast<uint16_t>(offset)) !=
          1) {
        return std::nullopt;
      }
      const uint32_t n = std::min<uint32_t>(scsi::kMemoryPieceLength, len - offset);
      for (uint32_t k = 0; k < n; ++k) sum += piece[k];
    }
  }
  return static_cast<uint16_t>(sum & 0xFFFF);
}

void TFlashEngine::OfferReboot() {
  if (!ui_.AskReboot()) return;
  ui_.RequestReboot();
}

}  // namespace tavo
