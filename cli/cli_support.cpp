#include "cli/cli_support.h"

#include "cli/cli_startup.h"
#include "platform/run_log.h"
#include "session/support_report.h"

namespace tavo {

int WriteReportCommand(const TCliOptions& options, const TFirmwareImage& image, std::FILE* out,
                       std::FILE* err) {
  const TReportResult result =
      WriteSupportReport({.program = "tavoflash-cli",
                          .image = &image,
                          .runLogDirectory = TRunLog::DefaultDirectory(),
                          .run = options.reportRun > 0 ? options.reportRun : 1,
                          .target = options.reportPath});
  if (!result.ok) {
    std::fprintf(err, "tavoflash-cli: %s\n", result.error.c_str());
    return kExitUsage;
  }
  for (const std::string& note : result.notes) std::fprintf(err, "Note: %s\n", note.c_str());
  std::fprintf(out, "The report was written to %s\n", result.path.c_str());
  std::fflush(out);
  return kExitVerified;
}

}  // namespace tavo
