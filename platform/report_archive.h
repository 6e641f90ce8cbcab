// Writing a gzip-compressed tar archive of small text files with libarchive (the support
// report). Every member is a regular file of mode 0644 owned by 0/0 with no owner names
// and the time 0 (1970-01-01); the gzip header carries no time and no name either, so
// nothing in the archive's frame says who made it, where or when.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tavo {

struct TArchiveMember {
  std::string name;  // path inside the archive ("tavoflash-report/run.log")
  std::string data;
};

// Creates path (see OpenOutputFile: refused when it exists, is a symbolic link, a folder,
// a device, a FIFO or a kernel file; mode 0600) and writes the members into it. On any
// failure the file is removed again and error says why in a few words ("it exists
// already", "No space left on device").
bool WriteTarGz(const std::string& path, const std::vector<TArchiveMember>& members,
                std::string& error);

}  // namespace tavo
