#include <algorithm>
#include <cstring>

#include "drive/scsi.h"
#include "flash/engine_common.h"
#include "flash/flash_engine.h"

namespace tavo {

using namespace engine;

// ---------------------------------------------------------------------------------------
// Patch-region refresh

bool TFlashEngine::RefreshPatchRegion() {
  std::optional<TPatchRewrite> rewrite;
  if (!PlanPatchRefresh(rewrite)) return false;
  if (rewrite) RewritePatchRegion(*rewrite);
  return true;
}

void TFlashEngine::RewritePatchRegion(TPatchRewrite& rewrite) {
  // The whole region again from its start, in 128-byte blocks; a failed block does not
  // stop the rest (what became of each is only noted).
  uint32_t offset = rewrite.start;
  uint32_t remaining = rewrite.length;
  while (remaining > 0) {
    const uint8_t status =
        atapi_.WritePatch(rewrite.staged.data() + offset, rewrite.bank, offset, 128);
    NoteWrite(writes_.patch, status);
    if (remaining >= 128) {
      offset += 128;
      remaining -= 128;
    } else {
      remaining = 0;
    }
  }
}

bool TFlashEngine::PredictDesignMarker(const std::optional<TPatchRewrite>& rewrite) {
  return CheckDesignMarker(rewrite ? &*rewrite : nullptr);
}

bool TFlashEngine::PlanPatchRefresh(std::optional<TPatchRewrite>& rewrite) {
  rewrite.reset();
  auto staging = ObtainBuffer(kWorkBufferSize);
  if (!staging) {
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  auto descriptor = ObtainBuffer(kWorkBufferSize);
  if (!descriptor) {
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  uint8_t* stage = staging->data();
  uint8_t* desc = descriptor->data();

  if (atapi_.ReadPatchInfo(desc) == 0) return true;
  if (desc[0] != 0x55 || desc[1] != 0xDD || desc[4] >= 8) return true;

  const uint8_t bank = desc[4];
  const uint32_t start = (uint32_t{desc[5]} << 8) | desc[6];
  const uint32_t length = (uint32_t{desc[7]} << 8) | desc[8];
  // The rewrite sends whole 128-byte blocks from the start offset on, so the region must
  // fit the staged bank with its last block; and it must name a bank the image holds.
  const uint32_t writtenEnd = start + (length + 127) / 128 * 128;
  if (writtenEnd > kWorkBufferSize || bank >= state_.header.BankCount) {
    ui_.AddLog(
        Format("Patch region ignored: bank %u, offset 0x%x, length 0x%x lies outside "
               "the image.",
               static_cast<unsigned>(bank), start, length));
    return true;
  }

  image_->StageBank(bank, stage);
  if (state_.header.ScrambleFlag != 0x00 && state_.header.ScrambleFlag != 0x20) {
    Descramble(stage, BankLength(bank), 1);
  }

  uint32_t offset = start;
  uint32_t remaining = length;
  while (remaining > 0) {
    // A drive that cannot show its region is left as it is.
    if (atapi_.ReadMemory(desc, bank, static_cast<uint16_t>(offset)) != 1) return true;
    const uint32_t n = std::min<uint32_t>(remaining, scsi::kMemoryPieceLength);
    if (std::memcmp(desc, stage + offset, n) != 0) break;
    offset += scsi::kMemoryPieceLength;
    remaining -= n;
  }
  if (remaining == 0) return true;
  rewrite =
      TPatchRewrite{.bank = bank, .start = start, .length = length, .staged = std::move(*staging)};
  return true;
}

}  // namespace tavo
