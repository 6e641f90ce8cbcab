#include <algorithm>
#include <cstring>

#include "drive/scsi.h"
#include "flash/engine_common.h"
#include "flash/flash_engine.h"

namespace tavo {

using namespace engine;

namespace {

constexpr int kPollLimitSec = 120;
// The most one step of the wait (a readiness poll, or the pause between two) may count
// towards the limit: the pause plus the longest a command may take. Time beyond it was not
// spent waiting for the drive (the process was stopped, or the machine slept) and must not
// make a drive that is still programming look as if it never came back.
constexpr uint64_t kLongestStepMs = 1000 + 20000 + 1000;

}  // namespace

// ---------------------------------------------------------------------------------------
// Bank download and commit

bool TFlashEngine::FlashImage() {
  ui_.SetProgress(0);
  SetRange(0, 100);
  ui_.SetProgress(20);
  ui_.AddLog("Flashing ..");
  if (DownloadAndCommit()) return true;
  flashStatusAsked_ = true;
  flashStatus_ = QueryFailure();
  // No answer reads as 0 here, as a real 0 does; only the facts keep them apart.
  if (flashStatus_.value_or(0) != 0) {
    ui_.AddLog("Err:Flash Fail!!");
  } else {
    // The drive's word that it attempted nothing counts only when it had also taken no
    // patch block and no bank.
    nothingAttempted_ =
        stop_ == TRunStop::DownloadRefused && flashStatus_ && !writes_.MayHaveChanged();
    ui_.AddLog("Err:The firmware is not support this device!!(7)");
  }
  return false;
}

std::optional<uint8_t> TFlashEngine::QueryFailure() {
  uint8_t status[20] = {};
  if (atapi_.FlashStatus(status) == 1) return status[0];
  if (atapi_.FlashStatus(status) == 1) return status[0];
  return std::nullopt;
}

TRunStop TFlashEngine::StopAfterFailure(TRunStop refusal) const {
  // A refusal comes with sense; a command that got no sense at all got no answer.
  return atapi_.LastSenseKey() != scsi::kNoSense ? refusal : TRunStop::ContactLost;
}

bool TFlashEngine::DownloadAndCommit() {
  const bool fullBank = FullBankMode();
  auto transfer = ObtainBuffer(kWorkBufferSize);
  if (!transfer) {
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  uint8_t* buf = transfer->data();
  clock_.Sleep(2000);

  if (!SendBanks(buf, fullBank)) return false;
  uint8_t kept = 0;
  if (!CommitWithRetries(buf, kept)) return false;
  if (!WaitUntilReady(kept)) return false;
  atapi_.TestUnitReady();
  return true;
}

bool TFlashEngine::FullBankMode() {
  // A failed request leaves nothing trustworthy in the buffer, so it then reads as cleared
  // (normal mode).
  uint8_t caps[scsi::kCapabilitiesLength] = {};
  if (atapi_.ModeSenseCapabilities(caps) != 1) std::memset(caps, 0, sizeof caps);
  return (caps[8] & 0x2A) == 0x2A && (caps[10] & 0x08) != 0 && (caps[11] & 0x01) != 0 &&
         (caps[11] & 0x10) == 0;
}

bool TFlashEngine::SendBanks(uint8_t* buf, bool fullBank) {
  const uint16_t bankCount = state_.header.BankCount;
  for (uint16_t i = 0; i < bankCount; ++i) {
    ReportPhase({.kind = TPhaseKind::SendingBank, .bank = i + 1, .banks = bankCount});
    if (fullBank) std::memset(buf, 0, kWorkBufferSize);
    ui_.SetProgress(static_cast<int>((i + 1) * 80 / bankCount));
    const uint16_t len = BankLength(i);
    if (i < state_.header.BankLength.size()) image_->StageBank(i, buf);
    if (state_.header.ScrambleFlag == 0x01) Descramble(buf, len, 1);
    if (i == 1 && len < 0xE000) {
      // The drive's own 16 bytes at E000h of bank 1 go back with a full-bank transfer.
      uint8_t memory[scsi::kMemoryPieceLength] = {};
      if (atapi_.ReadMemory(memory, 1, 0xE000) != 1) {
        stop_ = StopAfterFailure(TRunStop::DownloadRefused);
        ui_.AddLog("Err:The firmware is not support this device!!(11)");
        return false;
      }
      std::memcpy(buf + 0xE000, memory, 16);
    }
    uint16_t sendLength = len;
    // The container check has made sure no bank is longer than this.
    if (fullBank) sendLength = FullBankLength(i);
    const uint8_t status = atapi_.FlashWrite(buf, scsi::kFlashModeDownload,
                                             static_cast<uint8_t>(i & 0xFF), sendLength, 0);
    NoteWrite(writes_.firmware, status);
    if (status != 1) {
      stop_ = StopAfterFailure(TRunStop::DownloadRefused);
      ui_.AddLog(Format("Status:0x%x ; Err:Flash command(W) has problems.", status));
      return false;
    }
  }
  return true;
}

bool TFlashEngine::CommitWithRetries(uint8_t* buf, uint8_t& kept) {
  // The commit, and its one retry when refused as an illegal request. Each decision reads
  // the sense of the command just sent; TAtapi gives sense only for a CHECK CONDITION.
  ReportPhase({.kind = TPhaseKind::Committing});
  ui_.SetProgress(70);
  const uint16_t bankCount = state_.header.BankCount;
  const uint16_t checksum = state_.header.Checksum;
  const uint8_t commitSelector = static_cast<uint8_t>((scsi::kSelectorCommitE0 + bankCount) & 0xFF);
  kept = atapi_.FlashWrite(buf, scsi::kFlashModeCommit, commitSelector, 0, checksum);
  NoteWrite(writes_.firmware, kept);
  if (kept != 1 && atapi_.LastSenseKey() == scsi::kIllegalRequest) {
    if (!atapi_.NtPlatform()) atapi_.TestUnitReady();
    kept = atapi_.FlashWrite(buf, scsi::kFlashModeDownload, commitSelector, 0, checksum);
    NoteWrite(writes_.firmware, kept);
    clock_.Sleep(15000);
    if (kept != 1 && atapi_.LastSenseKey() == scsi::kIllegalRequest &&
        atapi_.LastAsc() == scsi::kAscParameterListLength && atapi_.LastAscq() == 0x00) {
      atapi_.TestUnitReady();
      kept = atapi_.FlashWrite(buf, scsi::kFlashModeDownload,
                               static_cast<uint8_t>((scsi::kSelectorCommitF0 + bankCount) & 0xFF),
                               0, checksum);
      NoteWrite(writes_.firmware, kept);
    }
  }
  // A drive that is not ready yet is waited for; any other failure of the last attempt,
  // with sense or without (a bare status, a time-out), ends the run here.
  const uint8_t senseKey = kept == 1 ? 0 : atapi_.LastSenseKey();
  if (kept != 1 && senseKey != scsi::kNotReady) {
    stop_ = StopAfterFailure(TRunStop::CommitRefused);
    ui_.AddLog(Format("Status:%x;SenseCode:%x : %x : %x;", kept, senseKey, atapi_.LastAsc(),
                      atapi_.LastAscq()));
    ui_.AddLog("Err:Flash Fail.");
    return false;
  }
  return true;
}

bool TFlashEngine::WaitUntilReady(uint8_t kept) {
  ui_.SetProgress(80);
  uint64_t elapsedMs = 0;
  uint64_t last = clock_.NowMs();
  const auto count = [&] {
    const uint64_t now = clock_.NowMs();
    elapsedMs += std::min<uint64_t>(now - last, kLongestStepMs);
    last = now;
    return elapsedMs / 1000;
  };
  for (;;) {
    ReportPhase({.kind = TPhaseKind::WaitingForDrive,
                 .elapsedSec = static_cast<int>(count()),
                 .limitSec = kPollLimitSec});
    if (atapi_.TestUnitReady() == 1) return true;
    if (atapi_.LastSenseKey() == scsi::kNotReady &&
        atapi_.LastAsc() == scsi::kAscMediumNotPresent) {
      return true;  // an empty drive counts as ready
    }
    if (count() > static_cast<uint64_t>(kPollLimitSec)) {
      if (atapi_.NtPlatform()) {
        ui_.AddLog(Format("Time Out Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;", kept,
                          atapi_.LastSenseKey(), atapi_.LastAsc(), atapi_.LastAscq()));
      } else {
        ui_.AddLog(Format("Time Out Status:%x;Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;",
                          atapi_.LastTargetStatus(), kept, atapi_.LastSenseKey(), atapi_.LastAsc(),
                          atapi_.LastAscq()));
      }
      stop_ = TRunStop::NotReady;
      ui_.AddLog(Format("Err:Flash error,time out %d Sec", kPollLimitSec));
      return false;
    }
    clock_.Sleep(1000);
    ui_.ProcessMessages();
  }
}

}  // namespace tavo
