#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tavo {

std::string InstanceLockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') {
    return std::string(runtime) + "/MyAPP";
  }
  return "/tmp/MyAPP-" + std::to_string(getuid());
}

TInstanceLock::~TInstanceLock() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool TInstanceLock::Acquire(const std::string& path) {
  if (fd_ >= 0) {
    return true;
  }
  // O_NOFOLLOW: the fallback lives in a world-writable directory, where another user could
  // plant a link.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return true;
  }
  // A lock file that another user owns (planted in the shared fallback directory) would
  // let that user keep this program from ever starting: run without the guard instead.
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    close(fd);
    return true;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool taken = errno == EWOULDBLOCK;
    close(fd);
    return !taken;
  }
  fd_ = fd;
  return true;
}

}  // namespace tavo
