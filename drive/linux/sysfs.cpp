#include "drive/linux/sysfs.h"

#include <algorithm>
#include <charconv>
#include <fstream>

namespace tavo {

namespace fs = std::filesystem;

// Parses a non-negative decimal number that makes up the whole of text.
bool ParseNumber(std::string_view text, int& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0;
}

// N of a directory entry named prefix + N, or -1.
int EntryNumber(const std::string& name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  int value = -1;
  return ParseNumber(std::string_view(name).substr(prefix.size()), value) ? value : -1;
}

// Names of a directory's entries. A directory that cannot be read, or whose reading fails
// part-way, gives what was read so far; nothing throws (the range-for increment of
// directory_iterator would).
std::vector<std::string> EntryNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

std::optional<int> ReadSysfsInt(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) {
    text.pop_back();
  }
  int value = 0;
  if (!ParseNumber(text, value)) return std::nullopt;
  return value;
}

bool ParseScsiAddress(const std::string& text, int& host, int& channel, int& target, int& lun) {
  int parts[4] = {};
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t colon = text.find(':', start);
    const bool last = i == 3;
    if (last != (colon == std::string::npos)) return false;
    const size_t end = last ? text.size() : colon;
    if (!ParseNumber(std::string_view(text).substr(start, end - start), parts[i])) return false;
    start = end + 1;
  }
  host = parts[0];
  channel = parts[1];
  target = parts[2];
  lun = parts[3];
  return true;
}

bool SgDriverPresent(const std::string& devRoot, const std::string& sysRoot) {
  std::error_code ec;
  if (fs::is_directory(fs::path(sysRoot) / "class" / "scsi_generic", ec)) return true;
  for (const std::string& name : EntryNames(devRoot)) {
    if (EntryNumber(name, "sg") >= 0) return true;
  }
  return false;
}

std::vector<int> ScsiHostNumbers(const std::string& sysRoot) {
  std::vector<int> hosts;
  for (const std::string& name : EntryNames(fs::path(sysRoot) / "class" / "scsi_host")) {
    const int number = EntryNumber(name, "host");
    if (number >= 0) hosts.push_back(number);
  }
  std::sort(hosts.begin(), hosts.end());
  return hosts;
}

std::vector<TSgDevice> SgDevices(const std::string& sysRoot) {
  const fs::path genericDir = fs::path(sysRoot) / "class" / "scsi_generic";
  std::vector<TSgDevice> devices;
  for (const std::string& name : EntryNames(genericDir)) {
    TSgDevice device;
    device.index = EntryNumber(name, "sg");
    if (device.index < 0) continue;
    const fs::path link = genericDir / name / "device";
    std::error_code linkError;
    fs::path target = fs::read_symlink(link, linkError);
    if (linkError) target = fs::weakly_canonical(link, linkError);
    if (linkError || !ParseScsiAddress(target.filename().string(), device.host, device.channel,
                                       device.target, device.lun)) {
      continue;
    }
    device.type = ReadSysfsInt((link / "type").string()).value_or(-1);
    devices.push_back(device);
  }
  std::sort(devices.begin(), devices.end(),
            [](const TSgDevice& a, const TSgDevice& b) { return a.index < b.index; });
  return devices;
}

}  // namespace tavo
