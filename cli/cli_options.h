// The terminal front end's own options, after the shared start-up options have been taken
// out of the command line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tavo {

struct TCliOptions {
  int drive = -1;         // list index, counted from 0; -1: the first
  std::string drivePath;  // --drive /dev/srN: the listed drive at that device node
  bool yes = false;
  bool reboot = false;
  bool list = false;
  bool check = false;       // only check the drives with reading commands (see cli_check.h)
  bool allDrives = false;   // --drive all: every matching drive in turn
  bool json = false;        // JSON Lines on standard output (cli/json_events.h)
  bool ifNeeded = false;    // leave a drive alone that reports the image's revision or a newer one
  bool allowOlder = false;  // --yes may answer a downgrade (session/revision_policy.h)
  bool history = false;     // list the runs kept in the run logs; no drive is looked at
  bool restore = false;     // --restore: flash a backup back, or list them without a file
  std::string restoreFile;
  bool report = false;     // write a support report (session/support_report.h); no drive
  std::string reportPath;  // --report FILE; empty: the default name in the current folder
  int reportRun = 0;       // --report-run N: the run, 1 the newest; 0: not given (the newest)
};

// False on the first argument it does not know or a malformed --drive, with error set.
bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& options, std::string& error);

// The options that do not go together (--json without --yes, for a run with --json never
// asks); false with error set. Not for --help and --version, which go with anything.
bool CheckCliCombination(const TCliOptions& options, std::string& error);

// True when the arguments ask for --json: even a command line that does not parse then
// gets its error as JSON.
bool WantsJson(const std::vector<std::string>& args);
void PrintCliUsage(std::FILE* to);

// A usage error the GNU way: "tavoflash-cli: <error>" and a pointer to --help.
void PrintCliUsageError(const std::string& error, std::FILE* to);

}  // namespace tavo
