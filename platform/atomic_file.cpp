#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/shared_dirs.h"

namespace tavo {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string& error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = "it is " + FileKindText(st.st_mode) + ", not a regular file";
    return false;
  }
  std::string temporary = path + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  const bool written = fchmod(fd, 0644) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  const int writeError = errno;
  if (::close(fd) != 0 || !written) {
    error = std::strerror(written ? errno : writeError);
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk only with the folder.
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    ::close(folder);
  }
  return true;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t maxSize,
                                                  std::string& error, bool& missing) {
  missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int why = errno;
    missing = why == ENOENT;
    struct stat st {};
    error = why == ELOOP && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)
                ? "it is a symbolic link"
                : std::strerror(why);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = "it is " + FileKindText(st.st_mode) + ", not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > maxSize) {
    error = "it is larger than " + std::to_string(maxSize) + " bytes";
  } else {
    // Read up to one byte past the limit: a file that grows meanwhile is still caught.
    bytes.resize(maxSize + 1);
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::strerror(errno);
        break;
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    if (error.empty() && done > maxSize)
      error = "it is larger than " + std::to_string(maxSize) + " bytes";
  }
  ::close(fd);
  if (!error.empty()) return std::nullopt;
  return bytes;
}

}  // namespace tavo
