#include "platform/drive_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace tavo {

std::string DriveLockFileName(const std::string& device) {
  std::string name = device;
  if (name.rfind("/dev/", 0) == 0) name.erase(0, 5);
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '-' && c != '.') c = '_';
  }
  if (name.empty() || name[0] == '.') name.insert(0, "_");
  return "tavoflash-" + name + ".lock";
}

std::vector<std::string> DriveLockDirectories() {
  const char* own = std::getenv("TAVOFLASH_LOCK_DIR");
  if (own != nullptr && own[0] != '\0') return {own};
  return {"/run/lock", "/tmp"};
}

TDriveLock::~TDriveLock() {
  Release();
}

void TDriveLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

TDriveLockResult TDriveLock::Acquire(const std::string& device,
                                     const std::vector<std::string>& directories) {
  if (fd_ >= 0) return TDriveLockResult::Taken;
  for (const std::string& dir : directories) {
    path_ = dir + "/" + DriveLockFileName(device);
    // O_NOFOLLOW: both directories are writable by everyone, where another user could
    // plant a link. A file another user made is opened read-only: flock works on it.
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      struct stat st {};
      if (fstat(fd, &st) == 0 && st.st_uid == geteuid()) fchmod(fd, 0644);
    } else if (errno == EACCES || errno == EPERM) {
      fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      continue;
    }
    int rc;
    do {
      rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const bool busy = errno == EWOULDBLOCK;
      close(fd);
      if (busy) return TDriveLockResult::Busy;
      continue;
    }
    fd_ = fd;
    return TDriveLockResult::Taken;
  }
  return TDriveLockResult::Unavailable;
}

TExclusiveDevice::~TExclusiveDevice() {
  Close();
}

void TExclusiveDevice::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

int TExclusiveDevice::Open(const std::string& path) {
  Close();
  // Read-write: the kernel stops polling an sr device for media events only while it is
  // open exclusively for writing, and no poll may reach the drive during a flash.
  // Non-blocking: no medium is needed. Nothing is sent through this descriptor.
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (fd < 0) return errno;
  fd_ = fd;
  return 0;
}

}  // namespace tavo
