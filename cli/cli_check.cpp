#include "cli/cli_check.h"

#include <string>

#include "cli/cli_startup.h"
#include "flash/drive_check.h"
#include "session/drive_claims.h"

namespace tavo {

int RunCheck(TAtapi& atapi, const TFirmwareImage& image, TClock& clock, std::FILE* out) {
  TLockClaims claims;  // a drive another program is flashing gets nothing
  const TCheckReport report = CheckDrives(atapi, image, clock, &claims);
  for (const std::string& line : CheckReportLines(report)) {
    std::fprintf(out, "%s\n", line.c_str());
  }
  std::fflush(out);
  if (!report.imageStopLine.empty()) return kExitFailed;
  int listed = 0;
  int stopped = 0;
  for (const TDriveVerdict& v : report.drives) {
    if (v.listIndex < 0) continue;
    ++listed;
    if (!v.passes) ++stopped;  // a busy drive was not checked: no pass
  }
  if (listed == 0) return kExitUsage;
  return stopped == 0 ? kExitVerified : kExitFailed;
}

}  // namespace tavo
