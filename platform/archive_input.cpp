#include "platform/archive_input.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace tavo {

namespace {

struct TArchiveDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Appends the current member's data to out, at most limit + 1 bytes in all. False on a
// read error.
bool ReadMember(archive* a, size_t limit, std::string& out, std::string& error) {
  char buffer[65536];
  while (out.size() <= limit) {
    const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      const char* why = archive_error_string(a);
      error = why != nullptr ? why : "cannot be decompressed";
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// The decompressed content of a gzip file (all its members), at most limit + 1 bytes. A
// stream without its end (the writer died) gives everything up to the cut: the flight
// recorder flushes the compressor after every line, so that is every whole line.
std::optional<std::string> Inflate(const std::string& path, size_t limit, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = "is not a regular file";
    return std::nullopt;
  }
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) {
    ::close(fd);
    error = "the decompressor did not start";
    return std::nullopt;
  }
  std::string out;
  unsigned char in[65536];
  char buffer[65536];
  int status = Z_OK;
  ssize_t got = 0;
  while (out.size() <= limit && (got = ::read(fd, in, sizeof in)) > 0) {
    z.next_in = in;
    z.avail_in = static_cast<uInt>(got);
    while (z.avail_in > 0 && out.size() <= limit) {
      if (status == Z_STREAM_END) {
        // Another gzip member follows: it continues the same content.
        inflateReset(&z);
      }
      z.next_out = reinterpret_cast<Bytef*>(buffer);
      z.avail_out = sizeof buffer;
      status = inflate(&z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) break;
      out.append(buffer, sizeof buffer - z.avail_out);
      if (status == Z_BUF_ERROR && z.avail_out != 0) break;
    }
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) break;
  }
  const bool bad = got < 0 || (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR);
  if (bad) error = got < 0 ? std::strerror(errno) : (z.msg != nullptr ? z.msg : "not gzip data");
  inflateEnd(&z);
  ::close(fd);
  if (bad) return std::nullopt;
  return out;
}

// The first regular member of the tar.gz at path whose name ends with memberSuffix.
std::optional<std::string> ReadTarMember(const std::string& path, const std::string& memberSuffix,
                                         size_t limit, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::unique_ptr<archive, TArchiveDeleter> a(archive_read_new());
  archive_read_support_filter_gzip(a.get());
  archive_read_support_format_tar(a.get());
  if (archive_read_open_fd(a.get(), fd, 65536) != ARCHIVE_OK) {
    const char* why = archive_error_string(a.get());
    error = why != nullptr ? why : "cannot be read";
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  bool found = false;
  bool ok = true;
  archive_entry* entry = nullptr;
  while (!found && archive_read_next_header(a.get(), &entry) == ARCHIVE_OK) {
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr || !EndsWith(name, memberSuffix) ||
        archive_entry_filetype(entry) != AE_IFREG) {
      continue;
    }
    found = true;
    ok = ReadMember(a.get(), limit, out, error);
  }
  a.reset();
  ::close(fd);
  if (!found) {
    error = "holds no " + memberSuffix;
    return std::nullopt;
  }
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

bool IsGzipFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  unsigned char magic[2] = {};
  const bool gzip = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    ::read(fd, magic, sizeof magic) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
  ::close(fd);
  return gzip;
}

std::optional<std::string> ReadCompressedText(const std::string& path,
                                              const std::string& memberSuffix, size_t limit,
                                              std::string& error) {
  std::optional<std::string> plain = Inflate(path, limit, error);
  if (!plain) return std::nullopt;
  // A tar archive names "ustar" at byte 257 of its first header.
  if (plain->size() < 512 || plain->compare(257, 5, "ustar") != 0) return plain;
  return ReadTarMember(path, memberSuffix, limit, error);
}

}  // namespace tavo
