#include "platform/drive_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/shared_dirs.h"

namespace tavo {

namespace {

// Every open of a lock file: never through a link another user planted, never blocking
// (a FIFO planted at the path would hold open() until someone writes to it), never
// inherited by a child.
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

const char* OwnLockDirectory() {
  const char* own = std::getenv("TAVOFLASH_LOCK_DIR");
  return own != nullptr && own[0] != '\0' ? own : nullptr;
}

enum class TOpenState {
  Opened,    // fd is the lock file
  NoRoom,    // the directory does not exist or cannot be written: the next one may
  Again,     // the file came or went meanwhile: look again
  Unusable,  // something is there that must not or cannot be used: reason says what
};

struct TOpened {
  TOpenState state = TOpenState::NoRoom;
  int fd = -1;
  std::string reason;
};

TOpened Unusable(const struct stat& st, const std::string& what) {
  return {TOpenState::Unusable, -1,
          "it is " + FileKindText(st.st_mode) + " of " + UserText(st.st_uid) + what};
}

// A new lock file, readable by everyone whatever the umask: made under a name of its own,
// opened up, then linked to path, so that no other program ever finds it half made.
TOpened CreateLockFile(const std::string& path) {
  std::string name = path + ".XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return {};
  fchmod(fd, 0644);
  const int rc = link(name.c_str(), path.c_str());
  const int error = errno;
  unlink(name.c_str());
  if (rc == 0) return {TOpenState::Opened, fd, {}};
  close(fd);
  return {error == EEXIST ? TOpenState::Again : TOpenState::NoRoom, -1, {}};
}

TOpened OpenLockFile(const std::string& path) {
  struct stat seen {};
  if (lstat(path.c_str(), &seen) != 0) {
    return errno == ENOENT ? CreateLockFile(path) : TOpened{};
  }
  if (!S_ISREG(seen.st_mode)) return Unusable(seen, ", not a lock file");
  // Another user's file is opened read-only: flock works on it all the same.
  int fd = open(path.c_str(), O_RDWR | kOpenFlags);
  if (fd < 0 && (errno == EACCES || errno == EPERM)) fd = open(path.c_str(), O_RDONLY | kOpenFlags);
  if (fd < 0) {
    if (errno == ENOENT || errno == ELOOP) return {TOpenState::Again, -1, {}};
    return Unusable(seen, " that cannot be opened (" + std::string(std::strerror(errno)) + ")");
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
    close(fd);
    return {TOpenState::Again, -1, {}};
  }
  return {TOpenState::Opened, fd, {}};
}

// True when path still names the file open at fd.
bool SameFile(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

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

bool IsVirtualDevice(const std::string& device) {
  return device.rfind("emulated:", 0) == 0 || device.rfind("replay:", 0) == 0;
}

std::vector<std::string> DriveLockDirectories() {
  if (const char* own = OwnLockDirectory()) return {own};
  return {"/run/lock", "/tmp"};
}

TDriveLock::~TDriveLock() {
  Release();
}

void TDriveLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

TDriveLockResult TDriveLock::Acquire(const std::string& device) {
  if (OwnLockDirectory() != nullptr || !IsVirtualDevice(device)) {
    return Acquire(device, DriveLockDirectories());
  }
  std::string error;
  const std::string runtime = UserRuntimeDirectory(error);
  directories_.clear();
  if (runtime.empty()) {
    path_ = DriveLockFileName(device);
    reason_ = error;
    return TDriveLockResult::Refused;
  }
  return Acquire(device, {runtime});
}

TDriveLockResult TDriveLock::Acquire(const std::string& device,
                                     const std::vector<std::string>& directories) {
  if (fd_ >= 0) return TDriveLockResult::Taken;
  reason_.clear();
  directories_ = directories;
  for (const std::string& dir : directories) {
    path_ = dir + "/" + DriveLockFileName(device);
    // A few turns for the races with other programs (the file appearing or going while
    // this one looks at it); a file that keeps changing beyond that is refused.
    TOpened opened;
    for (int turn = 0; turn < 16; ++turn) {
      opened = OpenLockFile(path_);
      if (opened.state != TOpenState::Opened) {
        if (opened.state == TOpenState::Again) continue;
        break;
      }
      int rc;
      do {
        rc = flock(opened.fd, LOCK_EX | LOCK_NB);
      } while (rc != 0 && errno == EINTR);
      if (rc != 0) {
        const int error = errno;
        close(opened.fd);
        if (error == EWOULDBLOCK) return TDriveLockResult::Busy;
        reason_ = std::string("it cannot be locked (") + std::strerror(error) + ")";
        return TDriveLockResult::Refused;
      }
      // The file may have been removed (and another made) between the open and the
      // lock: a lock on a file nobody else can find guards nothing.
      if (SameFile(opened.fd, path_)) {
        fd_ = opened.fd;
        return TDriveLockResult::Taken;
      }
      close(opened.fd);
      opened.state = TOpenState::Again;
    }
    if (opened.state == TOpenState::NoRoom) continue;
    reason_ = opened.state == TOpenState::Again ? "it keeps changing" : opened.reason;
    return TDriveLockResult::Refused;
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
