#include "cli/cli_check.h"

#include <string>

#include "cli/cli_startup.h"
#include "flash/drive_check.h"
#include "platform/output_file.h"
#include "session/drive_claims.h"
#include "session/drive_report.h"
#include "session/unreached_drives.h"

namespace tavo {

int RunCheck(TAtapi& atapi, const TFirmwareImage& image, TClock& clock, std::FILE* out,
             const std::string& logPath, int onlyItem, const std::string& onlyDevice) {
  TLockClaims claims;  // a drive another program is flashing gets nothing
  const TCheckReport report = CheckDrives(atapi, image, clock, &claims, onlyItem, onlyDevice);
  if (report.imageStopLine.empty() && report.drives.empty() &&
      (onlyItem >= 0 || !onlyDevice.empty())) {
    std::fprintf(stderr,
                 "tavoflash-cli: --drive %s: no such drive was found; tavoflash-cli --list "
                 "shows the matching drives\n",
                 onlyDevice.empty() ? std::to_string(onlyItem).c_str() : onlyDevice.c_str());
    return kExitUsage;
  }
  std::string reason;
  const int logFd = logPath.empty() ? -1 : OpenOutputFile(logPath, TOutputMode::Append, reason);
  std::FILE* log = logFd >= 0 ? fdopen(logFd, "a") : nullptr;
  if (logFd >= 0 && log == nullptr) CloseOutputFile(logFd);
  if (!logPath.empty() && log == nullptr) {
    std::fprintf(stderr, "tavoflash-cli: cannot write the log to %s: %s\n", logPath.c_str(),
                 reason.c_str());
  }
  for (const std::string& line : CheckReportLines(report)) {
    for (std::FILE* f : {out, log}) {
      if (f != nullptr) std::fprintf(f, "%s\n", line.c_str());
    }
  }
  std::fflush(out);
  if (log != nullptr) std::fclose(log);
  for (const std::string& line : UnreachedDriveLines(atapi, report.imageIdentity)) {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (!report.imageStopLine.empty()) return kExitFailed;
  int listed = 0;
  int stopped = 0;
  for (const TDriveVerdict& v : report.drives) {
    if (v.listIndex < 0) continue;
    ++listed;
    if (!v.passes) ++stopped;  // a busy drive was not checked: no pass
  }
  if (listed == 0) {
    // Why, in the words every mode uses when no drive matches.
    for (const std::string& why : NoDriveReasons(atapi, report.imageIdentity, "tavoflash-cli")) {
      std::fprintf(stderr, "%s\n", why.c_str());
    }
    return kExitUsage;
  }
  return stopped == 0 ? kExitVerified : kExitFailed;
}

}  // namespace tavo
