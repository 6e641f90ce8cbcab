// The single-instance guard: an exclusive flock() on a file named "MyAPP" in the user's
// runtime directory (an abstract Unix socket named after the uid and the file when the file
// cannot be used; its holder's uid is checked, so another user holding the name is not a
// second instance). The lock lives as long as the descriptor, so the kernel releases it
// on any exit, crashes included.
#pragma once

#include <string>

namespace tavo {

// $XDG_RUNTIME_DIR/MyAPP, or /tmp/MyAPP-<uid> when the runtime directory is not set.
std::string InstanceLockPath();

class TInstanceLock {
 public:
  TInstanceLock() = default;
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // True when this process now holds the lock; false when another process holds it.
  // A lock file that cannot be opened at all, or that another user owns, does not stop
  // the program: the guard is then an abstract Unix socket named after the path (Held()
  // is true while this process holds it; true without a guard only when not even a
  // socket can be made).
  bool Acquire(const std::string& path);
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace tavo
