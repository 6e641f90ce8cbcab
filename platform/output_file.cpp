#include "platform/output_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/shared_dirs.h"

namespace tavo {

namespace {

// Why the file open at fd is no place to write to, "" when it is one.
std::string Unfit(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "it is " + FileKindText(st.st_mode) + ", not a regular file";
  struct statfs fs {};
  if (fstatfs(fd, &fs) == 0) {
    switch (fs.f_type) {
      case PROC_SUPER_MAGIC:
      case SYSFS_MAGIC:
      case DEBUGFS_MAGIC:
      case SECURITYFS_MAGIC:
      case CGROUP_SUPER_MAGIC:
      case CGROUP2_SUPER_MAGIC:
        return "it is a kernel interface, not a file";
      default:
        break;
    }
  }
  // A write of nothing still reaches the file system: a file it will not let anyone
  // write says so here, before the run rather than at its first line.
  if (write(fd, "", 0) < 0) return std::strerror(errno);
  return {};
}

}  // namespace

int OpenOutputFile(const std::string& path, TOutputMode mode, std::string& reason) {
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  if (mode == TOutputMode::Append) flags |= O_APPEND;
  if (mode == TOutputMode::CreateNew) flags |= O_EXCL;
  const int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if ((error == ELOOP || error == EEXIST) && lstat(path.c_str(), &st) == 0 &&
        S_ISLNK(st.st_mode)) {
      reason = "it is a symbolic link";
    } else if (error == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      reason = "it is a folder";
    } else if (error == EEXIST) {
      reason = "it exists already";
    } else if (error == EISDIR) {
      reason = "it is a folder";
    } else if (error == ENXIO) {
      reason = "it is a FIFO or socket nobody reads";
    } else {
      reason = std::strerror(error);
    }
    return -1;
  }
  reason = Unfit(fd);
  if (reason.empty() && mode == TOutputMode::Replace && ftruncate(fd, 0) != 0) {
    reason = std::strerror(errno);
  }
  if (!reason.empty()) {
    close(fd);
    return -1;
  }
  // Written lines wait for the disk rather than get lost.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

void CloseOutputFile(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace tavo
