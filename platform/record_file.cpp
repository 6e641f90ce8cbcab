#include "platform/record_file.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/output_file.h"

namespace tavo {

std::unique_ptr<TRecordFile> TRecordFile::Create(const std::string& path, bool overwrite,
                                                 std::string& error) {
  std::string reason;
  const int fd =
      OpenOutputFile(path, overwrite ? TOutputMode::Replace : TOutputMode::CreateNew, reason);
  if (fd < 0) {
    error = "cannot write the recording to " + path + ": " + reason +
            (reason == "it exists already" ? "; give --record-overwrite to replace it" : "");
    return nullptr;
  }
  return std::unique_ptr<TRecordFile>(new TRecordFile(fd));
}

TRecordFile::~TRecordFile() {
  ::close(fd_);
}

bool TRecordFile::WriteLine(const std::string& text) {
  if (failed_) return false;
  const std::string line = text + "\n";
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string KernelDescription() {
  struct utsname name {};
  if (::uname(&name) != 0) return "unknown";
  return std::string(name.sysname) + " " + name.release + " " + name.version + " " + name.machine;
}

}  // namespace tavo
