// Reading the kernel's description of SCSI devices under /sys: small integer attributes,
// H:C:T:L addresses and numbered directory entries (host3, sg1).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo {

// One sg device as sysfs describes it.
struct TSgDevice {
  int index = 0;  // N of /dev/sgN
  int host = 0;
  int channel = 0;
  int target = 0;
  int lun = 0;
  int type = -1;  // SCSI peripheral device type; -1 when unreadable
};

// True when the sg driver is there: /sys/class/scsi_generic exists, or /dev holds an sgN.
bool SgDriverPresent(const std::string& devRoot, const std::string& sysRoot);

// Numbers of the SCSI hosts (/sys/class/scsi_host/hostN), ascending.
std::vector<int> ScsiHostNumbers(const std::string& sysRoot);

// The sg devices whose address sysfs gives (/sys/class/scsi_generic/sgN/device), ordered by
// N; a device whose type cannot be read has type -1.
std::vector<TSgDevice> SgDevices(const std::string& sysRoot);

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
