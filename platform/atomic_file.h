// Files the program keeps for itself and rewrites whole: written so that a crash or a full
// disk leaves either the old file or the whole new one, never a part; and read back whole,
// with a size limit, from regular files only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavo {

// Writes every byte to fd, retrying after a signal. False on any write error.
bool WriteAll(int fd, std::span<const uint8_t> bytes);

// Writes bytes to a temporary file beside path (same folder, mode 0644), flushes it to the
// disk (fsync), renames it over path and flushes the folder. A path that is a symbolic link
// or anything but a regular file is refused (the rename would replace the link, not what
// it points to). False with error saying why in a few words; the temporary file is then
// removed and path is left as it was.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string& error);

// The whole content of the regular file at path, when it holds at most maxSize bytes. No
// value otherwise, with error saying why in a few words ("No such file or directory", "it is
// a symbolic link", "it is a folder, not a regular file", "it is larger than N bytes");
// missing is then set when nothing exists at path.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t maxSize,
                                                  std::string& error, bool& missing);

}  // namespace tavo
