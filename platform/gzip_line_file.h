// A file of text lines compressed with gzip as they are written: the flight recording each
// run keeps beside its run log. Every line is flushed through the compressor and handed to
// the kernel at once (a full flush point), so a program that dies mid-run still leaves a
// file that decompresses up to its last whole line.
#pragma once

#include <memory>
#include <string>

namespace tavo {

class TGzipLineFile {
 public:
  // Creates path (refused when it exists, is a symbolic link or no regular file; mode
  // 0600). Nothing on failure, with error saying why.
  static std::unique_ptr<TGzipLineFile> Create(const std::string& path, std::string& error);
  ~TGzipLineFile();
  TGzipLineFile(const TGzipLineFile&) = delete;
  TGzipLineFile& operator=(const TGzipLineFile&) = delete;

  // Writes text and a line feed. False once a write failed (later lines are dropped).
  bool WriteLine(const std::string& text);

 private:
  struct TImpl;
  explicit TGzipLineFile(std::unique_ptr<TImpl> impl);
  std::unique_ptr<TImpl> impl_;
};

}  // namespace tavo
