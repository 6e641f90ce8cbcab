// A backup store for the tests: keeps the run's backups in memory, names each
// "/backups/N.bin", and refuses or skips when told to.
#pragma once

#include <string>
#include <vector>

#include "flash/backup_store.h"

namespace tavo::test {

struct TMemoryBackupStore final : TBackupStore {
  std::string skip;    // non-empty: the run logs it and makes no backup
  std::string refuse;  // non-empty: Keep fails with this reason
  std::vector<TDriveBackup> kept;
  std::string SkipReason() const override { return skip; }
  bool Keep(const TDriveBackup& backup, std::string& where) override {
    if (!refuse.empty()) {
      where = refuse;
      return false;
    }
    kept.push_back(backup);
    where = "/backups/" + std::to_string(kept.size()) + ".bin";
    return true;
  }
};

}  // namespace tavo::test
