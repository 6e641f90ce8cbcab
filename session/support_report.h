// The support report: one .tar.gz with everything about one run that someone far away
// needs to understand it, and nothing that identifies the user or the machine. It holds,
// under "tavoflash-report/": README.txt (what each file is, how to replay it), run.log,
// recording.jsonl (the run's flight recording, when it is still kept), system.txt (the
// program and image, the transport, what sysfs said of the drive, the kernel release,
// the distribution) and journal.txt (the program's journal entries of the run, or why
// there are none). Every text is scrubbed (session/privacy.h) before it is written.
// --emulate=replay:REPORT replays the recording straight from the archive.
#pragma once

#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace tavo {

struct TReportRequest {
  std::string program;  // "tavoflash-cli" or "tavoflash"
  const TFirmwareImage* image = nullptr;
  std::string runLogDirectory;  // TRunLog::DefaultDirectory()
  int run = 1;                  // which run: 1 the newest, in --history's order
  std::string target;           // the archive to write; empty: DefaultReportName()
};

struct TReportResult {
  bool ok = false;
  std::string path;                // the archive written (or the one refused)
  std::string error;               // one line when !ok
  std::vector<std::string> notes;  // what the report says is missing (no recording, ...)
};

// "tavoflash-report-YYYYMMDD-HHMMSS.tar.gz" for the current local time.
std::string DefaultReportName();

TReportResult WriteSupportReport(const TReportRequest& request);

}  // namespace tavo
