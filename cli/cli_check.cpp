#include "cli/cli_check.h"

#include "cli/cli_startup.h"
#include "flash/drive_check.h"

namespace tavo {

int RunCheck(TAtapi& atapi, const TFirmwareImage& image, TClock& clock, std::FILE* out) {
  const TCheckReport report = CheckDrives(atapi, image, clock);
  if (!report.imageStopLine.empty()) {
    std::fprintf(out, "check: every run stops at the image: %s\n", report.imageStopLine.c_str());
    std::fflush(out);
    return kExitFailed;
  }
  int listed = 0;
  int stopped = 0;
  for (const TDriveVerdict& v : report.drives) {
    if (v.listIndex < 0) {
      std::fprintf(out, "check: %s: not listed, the image is for %s\n", v.item.c_str(),
                   report.imageIdentity.c_str());
      continue;
    }
    ++listed;
    if (v.passes) {
      std::fprintf(out, "check: [%d] %s: a run would get past the checks\n", v.listIndex,
                   v.item.c_str());
    } else {
      ++stopped;
      std::fprintf(out, "check: [%d] %s: a run would stop with: %s\n", v.listIndex, v.item.c_str(),
                   v.stopLine.c_str());
    }
  }
  if (listed == 0) std::fprintf(out, "Can't find the device to upgrade !!\n");
  std::fflush(out);
  if (listed == 0) return kExitUsage;
  return stopped == 0 ? kExitVerified : kExitFailed;
}

}  // namespace tavo
