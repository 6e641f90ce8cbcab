#include "platform/report_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/output_file.h"

namespace tavo {

namespace {

struct TWriteDeleter {
  void operator()(archive* a) const { archive_write_free(a); }
};
struct TEntryDeleter {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};

std::string ArchiveError(archive* a) {
  const char* why = archive_error_string(a);
  return why != nullptr ? why : "the archive could not be written";
}

bool WriteMembers(archive* a, int fd, const std::vector<TArchiveMember>& members,
                  std::string& error) {
  // ustar: no extended headers that could carry the writer's names or times.
  if (archive_write_add_filter_gzip(a) != ARCHIVE_OK ||
      archive_write_set_filter_option(a, "gzip", "timestamp", nullptr) != ARCHIVE_OK ||
      archive_write_set_format_ustar(a) != ARCHIVE_OK ||
      archive_write_open_fd(a, fd) != ARCHIVE_OK) {
    error = ArchiveError(a);
    return false;
  }
  for (const TArchiveMember& member : members) {
    std::unique_ptr<archive_entry, TEntryDeleter> entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), member.name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_uid(entry.get(), 0);
    archive_entry_set_gid(entry.get(), 0);
    archive_entry_set_mtime(entry.get(), 0, 0);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(member.data.size()));
    if (archive_write_header(a, entry.get()) != ARCHIVE_OK ||
        archive_write_data(a, member.data.data(), member.data.size()) !=
            static_cast<la_ssize_t>(member.data.size())) {
      error = ArchiveError(a);
      return false;
    }
  }
  if (archive_write_close(a) != ARCHIVE_OK) {
    error = ArchiveError(a);
    return false;
  }
  return true;
}

}  // namespace

bool WriteTarGz(const std::string& path, const std::vector<TArchiveMember>& members,
                std::string& error) {
  const int fd = OpenOutputFile(path, TOutputMode::CreateNew, error);
  if (fd < 0) return false;
  ::fchmod(fd, 0600);
  bool ok = false;
  {
    std::unique_ptr<archive, TWriteDeleter> a(archive_write_new());
    ok = WriteMembers(a.get(), fd, members, error);
  }
  ::close(fd);
  // The file was made by this call: a half-written archive is no report.
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace tavo
