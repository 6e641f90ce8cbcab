#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tavo {

namespace {

// The guard when the lock file cannot be used: a Unix socket bound to an abstract name
// made from the path. The kernel lets one socket hold a name and frees it on any exit.
// Returns the socket, -2 when another process holds the name, -1 when no socket could be
// made.
int BindAbstractName(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "tavoflash-instance:" + path;
  const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);  // sun_path[0] = 0: abstract
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return fd;
  const bool taken = errno == EADDRINUSE;
  close(fd);
  return taken ? -2 : -1;
}

}  // namespace

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
  // A lock file that cannot be made, or that another user owns (planted in the shared
  // fallback directory, where it would let that user keep this program from ever
  // starting), gives way to the abstract socket: the guard never silently disappears.
  const auto fallback = [this, &path] {
    const int sock = BindAbstractName(path);
    if (sock == -2) return false;
    fd_ = sock;
    return true;
  };
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return fallback();
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    close(fd);
    return fallback();
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
