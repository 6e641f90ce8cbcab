// tavoflash-cli --report [FILE] [--report-run N]: the support report of a past run
// (session/support_report.h). Reads the run logs and recordings only; no drive is looked at.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "image/firmware_image.h"

namespace tavo {

// Writes the report; says on out where it went and on err what it lacks. On any problem
// (no run logged, no such run, a target that cannot be written) one line on err and exit
// status 2; otherwise 0.
int WriteReportCommand(const TCliOptions& options, const TFirmwareImage& image,
                       std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace tavo
