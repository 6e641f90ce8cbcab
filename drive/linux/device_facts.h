// What sysfs says about a drive's device node: the kernel's own reading of its vendor,
// model, revision and SCSI device type. The serial number is never read.
#pragma once

#include <string>

namespace tavo {

struct TDeviceFacts {
  bool found = false;  // sysfs describes the node
  std::string vendor;
  std::string model;
  std::string revision;
  int type = -1;  // SCSI peripheral device type (5: CD/DVD); -1 when unreadable
};

// node: "/dev/srN" (the block device) or "/dev/sgN" (the sg device). sysRoot: "/sys"
// outside tests. Not found for any other name.
TDeviceFacts ReadDeviceFacts(const std::string& node, const std::string& sysRoot = "/sys");

// One line: "vendor TAVO, model QRD-1040C, revision 1.05, type 5", or why there is none.
std::string DeviceFactsText(const TDeviceFacts& facts);

}  // namespace tavo
