#include "platform/gzip_line_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>

#include "platform/output_file.h"

namespace tavo {

struct TGzipLineFile::TImpl {
  gzFile file = nullptr;
  bool failed = false;
};

std::unique_ptr<TGzipLineFile> TGzipLineFile::Create(const std::string& path, std::string& error) {
  std::string reason;
  const int fd = OpenOutputFile(path, TOutputMode::CreateNew, reason);
  if (fd < 0) {
    error = "cannot create " + path + ": " + reason;
    return nullptr;
  }
  ::fchmod(fd, 0600);
  auto impl = std::make_unique<TImpl>();
  impl->file = gzdopen(fd, "wb6");
  if (impl->file == nullptr) {
    ::close(fd);
    error = "cannot create " + path + ": the compressor did not start";
    return nullptr;
  }
  return std::unique_ptr<TGzipLineFile>(new TGzipLineFile(std::move(impl)));
}

TGzipLineFile::TGzipLineFile(std::unique_ptr<TImpl> impl) : impl_(std::move(impl)) {}

TGzipLineFile::~TGzipLineFile() {
  gzclose(impl_->file);
}

bool TGzipLineFile::WriteLine(const std::string& text) {
  if (impl_->failed) return false;
  const std::string line = text + "\n";
  if (gzwrite(impl_->file, line.data(), static_cast<unsigned>(line.size())) !=
          static_cast<int>(line.size()) ||
      gzflush(impl_->file, Z_SYNC_FLUSH) != Z_OK) {
    impl_->failed = true;
  }
  return !impl_->failed;
}

}  // namespace tavo
