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

sockaddr_un AbstractAddress(const std::string& name, socklen_t& size) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);  // sun_path[0] = 0: abstract
  size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  return address;
}

// True when the socket listening at address belongs to this user. A holder that does
// not listen, or that cannot be asked, is not one of ours (ours always listen).
bool HeldByThisUser(const sockaddr_un& address, socklen_t size) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  ucred peer{};
  socklen_t length = sizeof peer;
  const bool ours = connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 &&
                    getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
                    peer.uid == geteuid();
  close(fd);
  return ours;
}

// The guard when the lock file cannot be used: a listening Unix socket bound to an
// abstract name made from the uid and the path. The kernel lets one socket hold a name
// and frees it on any exit. Abstract names are shared by every user of the machine, so a
// name held by another user's process (asked with SO_PEERCRED) is passed by for the next
// of a few spare names: nobody else can stop this user's program by holding a name.
// Returns the socket, -2 when a process of this user holds the name, -1 when no socket
// could be made or every name is held by others.
int BindAbstractName(const std::string& path) {
  const std::string base = "tavoflash-instance:" + std::to_string(geteuid()) + ":" + path;
  for (int spare = 0; spare < 4; ++spare) {
    socklen_t size = 0;
    const sockaddr_un address =
        AbstractAddress(spare == 0 ? base : base + "#" + std::to_string(spare), size);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 &&
        listen(fd, SOMAXCONN) == 0) {
      return fd;
    }
    const bool taken = errno == EADDRINUSE;
    close(fd);
    if (!taken) return -1;
    if (HeldByThisUser(address, size)) return -2;
  }
  return -1;
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
  // O_NOFOLLOW, O_NONBLOCK: the fallback lives in a world-writable directory, where another
  // user could plant a link or a FIFO.
  // A lock file that cannot be made, or that another user owns (planted in the shared
  // fallback directory, where it would let that user keep this program from ever
  // starting), gives way to the abstract socket: the guard never silently disappears.
  const auto fallback = [this, &path] {
    const int sock = BindAbstractName(path);
    if (sock == -2) return false;
    fd_ = sock;
    return true;
  };
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    return fallback();
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || !S_ISREG(st.st_mode)) {
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
