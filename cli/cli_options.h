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
  bool check = false;  // only check the drives with reading commands (see cli_check.h)
};

// False on the first argument it does not know or a malformed --drive, with error set.
bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& options, std::string& error);

void PrintCliUsage(std::FILE* to);

// A usage error the GNU way: "tavoflash-cli: <error>" and a pointer to --help.
void PrintCliUsageError(const std::string& error, std::FILE* to);

}  // namespace tavo
