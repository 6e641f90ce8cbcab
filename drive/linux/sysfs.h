// Reading the kernel's description of SCSI devices under /sys: small integer attributes,
// H:C:T:L addresses and numbered directory entries (host3, sg1).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo {

// Reads a small integer from a sysfs attribute file ("5\n"); nullopt when missing or not a
// number.
std::optional<int> ReadSysfsInt(const std::string& path);

// Parses "H:C:T:L"; false when malformed.
bool ParseScsiAddress(const std::string& text, int& host, int& channel, int& target, int& lun);

// Parses a non-negative decimal number that makes up the whole of text.
bool ParseNumber(std::string_view text, int& value);

// N of a directory entry named prefix + N, or -1.
int EntryNumber(const std::string& name, std::string_view prefix);

// Names of a directory's entries. A directory that cannot be read, or whose reading fails
// part-way, gives what was read so far; nothing throws.
std::vector<std::string> EntryNames(const std::filesystem::path& dir);

}  // namespace tavo
