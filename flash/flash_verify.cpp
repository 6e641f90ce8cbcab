#include <algorithm>

#include "drive/recording_format.h"
#include "drive/scsi.h"
#include "flash/flash_engine.h"

namespace tavo {

// ---------------------------------------------------------------------------------------
// Verification and restart

bool TFlashEngine::VerifyFlash() {
  ReportPhase({.kind = TPhaseKind::Verifying, .bank = 1, .banks = state_.header.BankCount});
  clock_.Sleep(5000);
  bool uniform = false;
  const std::optional<uint16_t> sum = ReadBackChecksum(&uniform);
  // A failed read fails the verification whatever the image checksum is. So does a
  // read-back of one byte value throughout: a drive that keeps nothing (or answers every
  // read with zeros) can still match a checksum by chance.
  if (!sum) {
    verifyFailure_ = TVerifyFailure::ReadFailed;
  } else if (uniform) {
    verifyFailure_ = TVerifyFailure::BlankReadBack;
  } else if (*sum != state_.header.Checksum ||
             (!expectedSha256_.empty() && rec::Sha256Hex(readBack_) != expectedSha256_)) {
    // A restore also compares the whole read-back with the backup's digest.
    verifyFailure_ = TVerifyFailure::Mismatch;
  } else {
    verifyFailure_ = TVerifyFailure::None;
    return true;
  }
  ui_.AddLog("Err:Verify NG !!");
  return false;
}

std::optional<uint16_t> TFlashEngine::ReadBackChecksum(bool* uniform) {
  uint32_t sum = 0;
  std::optional<uint8_t> first;
  bool same = true;
  readBack_.clear();
  SetRange(0, progressMax_);
  for (uint16_t i = 0; i < state_.header.BankCount; ++i) {
    const uint32_t len = BankLength(i);
    ReportPhase({.kind = TPhaseKind::Verifying, .bank = i + 1, .banks = state_.header.BankCount});
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
      if (!expectedSha256_.empty()) readBack_.insert(readBack_.end(), piece, piece + n);
      for (uint32_t k = 0; k < n; ++k) {
        sum += piece[k];
        if (!first) first = piece[k];
        same = same && piece[k] == *first;
      }
    }
  }
  if (uniform != nullptr) *uniform = same && first.has_value();
  return static_cast<uint16_t>(sum & 0xFFFF);
}

void TFlashEngine::OfferReboot() {
  if (!ui_.AskReboot()) return;
  ui_.RequestReboot();
}

}  // namespace tavo
