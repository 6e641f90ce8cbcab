// The file a session recording goes to, and the kernel facts its header names. Each line is
// handed to the kernel as soon as it is written, so a crash still leaves every line before.
#pragma once

#include <memory>
#include <string>

namespace tavo {

class TRecordFile {
 public:
  // Creates path for writing (mode 0644; see OpenOutputFile for what is refused). An
  // existing file is refused unless overwrite is set. Nothing on failure, with error
  // saying why.
  static std::unique_ptr<TRecordFile> Create(const std::string& path, bool overwrite,
                                             std::string& error);
  ~TRecordFile();
  TRecordFile(const TRecordFile&) = delete;
  TRecordFile& operator=(const TRecordFile&) = delete;

  // Writes text and a line feed. False once a write failed (later lines are dropped).
  bool WriteLine(const std::string& text);

 private:
  explicit TRecordFile(int fd) : fd_(fd) {}
  int fd_;
  bool failed_ = false;
};

// "Linux 6.1.0-18-amd64 #1 SMP ... x86_64" from uname; "unknown" when it fails.
std::string KernelDescription();

}  // namespace tavo
