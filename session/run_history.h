// The runs kept in the run logs (platform/run_log.h), read back: what tavoflash-cli
// --history lists. Only the files are read; no drive is looked at.
#pragma once

#include <string>
#include <vector>

namespace tavo {

struct TPastRun {
  std::string date;      // when it started, "2024-05-01 12:34:56.789"
  std::string program;   // "tavoflash-cli 1.01"
  std::string node;      // the device node ("/dev/sr0"); "unknown" when the log says so
  std::string identity;  // vendor and product, single-spaced ("TAVO QRD-1040C")
  std::string oldRevision;
  std::string newRevision;  // empty when the log does not say (a run that did not verify)
  std::string result;       // "verified", "nothing_written", "written_unverified",
                            // "refused"; empty in logs of older versions or unfinished runs
  std::string summary;      // the outcome in a few words; empty: the run never ended
  std::string path;         // the log file
};

// Reads one run log's text (path is only recorded).
TPastRun ParseRunLog(const std::string& text, const std::string& path);

// Every run-*.log in directory, newest first by the start time each records, a start later
// than now counting as older than every other (the order the rotation of the logs keeps).
// Missing or unreadable: none.
std::vector<TPastRun> ReadRunHistory(const std::string& directory);

}  // namespace tavo
