// The read-only check's claims on drives: each drive's per-drive lock, taken without
// waiting, so that the check never talks to a drive another program is flashing and no
// run starts on a drive while the check talks to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "flash/drive_check.h"
#include "platform/drive_lock.h"

namespace tavo {

class TLockClaims final : public TDriveClaims {
 public:
  // A drive whose lock file cannot be made at all is checked as a run would be flashed:
  // without the lock.
  bool Claim(const std::string& device) override;
  void ReleaseAll() override { locks_.clear(); }

 private:
  std::vector<std::unique_ptr<TDriveLock>> locks_;
};

}  // namespace tavo
