#include "drive/linux/device_facts.h"

#include <fstream>

#include "drive/linux/sysfs.h"

namespace tavo {

namespace {

// The first line of a small attribute file, blanks at either end taken off; only
// printable ASCII is kept, so a drive's odd bytes cannot reach a report as they are.
std::string ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  std::string out;
  for (const char c : line.substr(0, 64)) {
    if (c >= 0x20 && c < 0x7F) out += c;
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace

TDeviceFacts ReadDeviceFacts(const std::string& node, const std::string& sysRoot) {
  TDeviceFacts facts;
  std::string dir;
  if (EntryNumber(node, "/dev/sr") >= 0) {
    dir = sysRoot + "/class/block/" + node.substr(5) + "/device/";
  } else if (EntryNumber(node, "/dev/sg") >= 0) {
    dir = sysRoot + "/class/scsi_generic/" + node.substr(5) + "/device/";
  } else {
    return facts;
  }
  facts.vendor = ReadAttribute(dir + "vendor");
  facts.model = ReadAttribute(dir + "model");
  facts.revision = ReadAttribute(dir + "rev");
  facts.type = ReadSysfsInt(dir + "type").value_or(-1);
  facts.found = !facts.vendor.empty() || !facts.model.empty() || facts.type >= 0;
  return facts;
}

std::string DeviceFactsText(const TDeviceFacts& facts) {
  if (!facts.found) return "not described by sysfs";
  return "vendor " + facts.vendor + ", model " + facts.model + ", revision " + facts.revision +
         ", type " + std::to_string(facts.type);
}

}  // namespace tavo
