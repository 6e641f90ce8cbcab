// The folder the drives' backups are kept in and the files in it: written whole and flushed
// to disk before anyone relies on them, never rotated away by the program.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavo {

// $XDG_STATE_HOME/tavoflash/backups (or under ~/.local/state); empty when neither
// XDG_STATE_HOME nor HOME is set.
std::string BackupDirectory();

// Writes bytes to directory/name (the folder created with mode 0700 when missing, the file
// with mode 0600): first to a temporary name, flushed to disk, then renamed into place and
// the folder flushed too, so that the file is either whole or absent. Refuses to replace a
// file. False with error set when any step failed (the temporary file is then removed).
bool WriteFileDurably(const std::string& directory, const std::string& name,
                      std::span<const uint8_t> bytes, std::string& error);

// The whole content of a regular file of at most maxBytes bytes (a symbolic link is
// followed); nothing with error set otherwise.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t maxBytes,
                                                  std::string& error);

// The paths of the regular files in directory whose names end in suffix, sorted by name;
// empty when the folder is missing.
std::vector<std::string> FilesEndingIn(const std::string& directory, const std::string& suffix);

}  // namespace tavo
