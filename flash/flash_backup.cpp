// The backup the run makes before its first command that writes: every byte a run may
// rewrite, read twice with ReadMemory; the two reads must agree before anything is kept,
// and the run goes no further unless the copy was kept.
#include <algorithm>

#include "drive/recording_format.h"
#include "drive/scsi.h"
#include "flash/engine_common.h"
#include "flash/flash_engine.h"

namespace tavo {

using namespace engine;

std::string MemorySha256(const std::vector<std::vector<uint8_t>>& banks) {
  std::vector<uint8_t> all;
  for (const auto& bank : banks) all.insert(all.end(), bank.begin(), bank.end());
  return rec::Sha256Hex(all);
}

std::vector<uint32_t> TFlashEngine::BackupLengths() {
  // A full-bank download rewrites a fixed length of every bank, a normal one the image's
  // bank length; the patch refresh may rewrite its region, in whole 128-byte blocks.
  const bool fullBank = FullBankMode();
  const unsigned banks = std::min<unsigned>(state_.header.BankCount, kMaxBanks);
  std::vector<uint32_t> lengths;
  for (unsigned i = 0; i < banks; ++i) {
    lengths.push_back(fullBank ? FullBankLength(i) : BankLength(i));
  }
  auto descriptor = ObtainBuffer(kWorkBufferSize);
  if (!descriptor) return lengths;
  const uint8_t* desc = descriptor->data();
  if (atapi_.ReadPatchInfo(descriptor->data()) == 0) return lengths;
  if (desc[0] != 0x55 || desc[1] != 0xDD || desc[4] >= banks) return lengths;
  const uint32_t start = (uint32_t{desc[5]} << 8) | desc[6];
  const uint32_t length = (uint32_t{desc[7]} << 8) | desc[8];
  // A bank of the container holds at most what one full-bank transfer carries.
  const uint32_t end =
      std::min<uint32_t>(start + (length + 127) / 128 * 128, FullBankLength(desc[4]));
  lengths[desc[4]] = std::max(lengths[desc[4]], end);
  return lengths;
}

bool TFlashEngine::ReadBackupPass(const std::vector<uint32_t>& lengths, int pass,
                                  std::vector<std::vector<uint8_t>>& banks) {
  banks.assign(lengths.size(), {});
  const int banksCount = static_cast<int>(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    ReportPhase({.kind = TPhaseKind::BackingUp,
                 .bank = static_cast<int>(i) + 1,
                 .banks = banksCount,
                 .pass = pass});
    banks[i].resize(lengths[i]);
    // The bar shows how far the bank is read, as the verification shows it.
    ui_.SetProgress(0);
    SetRange(0, static_cast<int>(lengths[i]));
    for (uint32_t offset = 0; offset < lengths[i]; offset += scsi::kMemoryPieceLength) {
      ui_.ProcessMessages();
      ui_.SetProgress(static_cast<int>(offset));
      ui_.RepaintProgress();
      uint8_t piece[scsi::kMemoryPieceLength] = {};
      if (atapi_.ReadMemory(piece, static_cast<uint8_t>(i), static_cast<uint16_t>(offset)) != 1) {
        return false;
      }
      const uint32_t n = std::min<uint32_t>(scsi::kMemoryPieceLength, lengths[i] - offset);
      std::copy_n(piece, n, banks[i].begin() + offset);
    }
  }
  return true;
}

bool TFlashEngine::BackUpDrive() {
  if (backupStore_ == nullptr) return true;
  if (const std::string why = backupStore_->SkipReason(); !why.empty()) {
    ui_.AddLog("Backup skipped: " + why);
    return true;
  }
  const std::vector<uint32_t> lengths = BackupLengths();

  TDriveBackup backup;
  std::vector<std::vector<uint8_t>> again;
  if (!ReadBackupPass(lengths, 1, backup.banks) || !ReadBackupPass(lengths, 2, again)) {
    backupRefused_ = true;
    ui_.AddLog("Err:Backup read fail !!");
    return false;
  }
  backup.memorySha256 = MemorySha256(backup.banks);
  if (MemorySha256(again) != backup.memorySha256) {
    backupRefused_ = true;
    ui_.AddLog("Err:Backup read unstable !!");
    return false;
  }
  if (const int32_t row = SelectedRow(); row >= 0) {
    const std::string identity = FieldText(atapi_.Drive(row).Identity, kIdentityLength);
    backup.vendor = identity.substr(0, std::min<size_t>(identity.size(), 8));
    backup.product = identity.size() > 8 ? identity.substr(8) : std::string();
    backup.revision = FieldText(atapi_.Drive(row).Revision, 4);
  }
  std::string where;
  if (!backupStore_->Keep(backup, where)) {
    backupRefused_ = true;
    ui_.AddLog("Backup not saved: " + where);
    ui_.AddLog("Err:Backup save fail !!");
    return false;
  }
  backupPath_ = where;
  ui_.AddLog("Backup saved: " + where);
  return true;
}

}  // namespace tavo
