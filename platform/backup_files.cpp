#include "platform/backup_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/run_log.h"

namespace tavo {

namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::string BackupDirectory() {
  const std::string base = TRunLog::DefaultDirectory();
  return base.empty() ? std::string() : base + "/backups";
}

bool WriteFileDurably(const std::string& directory, const std::string& name,
                      std::span<const uint8_t> bytes, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) {
    error = "cannot create " + directory + ": " + ec.message();
    return false;
  }
  ::chmod(directory.c_str(), 0700);
  const std::string path = directory + "/" + name;
  const std::string temporary = directory + "/." + name + ".part";
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = ErrnoText("cannot create", temporary);
    return false;
  }
  bool ok = WriteAll(fd, bytes);
  if (!ok) error = ErrnoText("cannot write", temporary);
  if (ok && ::fsync(fd) != 0) {
    error = ErrnoText("cannot flush", temporary);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = ErrnoText("cannot close", temporary);
    ok = false;
  }
  // link() never replaces: an existing backup of the same name stays as it is.
  if (ok && ::link(temporary.c_str(), path.c_str()) != 0) {
    error = ErrnoText("cannot create", path);
    ok = false;
  }
  ::unlink(temporary.c_str());
  if (ok && !SyncDirectory(directory)) {
    error = ErrnoText("cannot flush the folder", directory);
    ok = false;
  }
  return ok;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t maxBytes,
                                                  std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = ErrnoText("cannot open", path);
    return std::nullopt;
  }
  struct stat st {};
  std::optional<std::vector<uint8_t>> out;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path + " is not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    error = path + " is too large (" + std::to_string(st.st_size) + " bytes)";
  } else {
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done == bytes.size()) {
      out = std::move(bytes);
    } else {
      error = ErrnoText("cannot read", path);
    }
  }
  ::close(fd);
  return out;
}

std::vector<std::string> FilesEndingIn(const std::string& directory, const std::string& suffix) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > suffix.size() && name.front() != '.' &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        entry.is_regular_file(ec)) {
      paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace tavo
