#include "session/drive_claims.h"

namespace tavo {

bool TLockClaims::Claim(const std::string& device) {
  auto lock = std::make_unique<TDriveLock>();
  switch (lock->Acquire(device)) {
    case TDriveLockResult::Taken:
      locks_.push_back(std::move(lock));
      return true;
    case TDriveLockResult::Unavailable:
      return true;
    case TDriveLockResult::Busy:
    case TDriveLockResult::Refused:  // something else sits at the lock's name: keep away
      break;
  }
  return false;
}

}  // namespace tavo
