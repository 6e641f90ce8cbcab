#include "platform/shared_dirs.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tavo {

std::string UserText(unsigned uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  const std::string number = "uid " + std::to_string(uid);
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return number;
  }
  return std::string(found->pw_name) + " (" + number + ")";
}

std::string FileKindText(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return "a regular file";
    case S_IFDIR:
      return "a folder";
    case S_IFIFO:
      return "a FIFO";
    case S_IFLNK:
      return "a symbolic link";
    case S_IFSOCK:
      return "a socket";
    default:
      return "a device";
  }
}

std::string UserRuntimeDirectory(std::string& error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return runtime;
  return PrivateDirectory("/tmp", error);
}

std::string PrivateDirectory(const std::string& base, std::string& error) {
  const std::string path = base + "/tavoflash-" + std::to_string(geteuid());
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return {};
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    error = "cannot use " + path + ": " + std::strerror(errno);
    return {};
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    error = path + " is " + FileKindText(st.st_mode) + " of " + UserText(st.st_uid) +
            ", not a private folder of this user";
    return {};
  }
  if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) {
    error = "cannot make " + path + " private: " + std::strerror(errno);
    return {};
  }
  return path;
}

}  // namespace tavo
