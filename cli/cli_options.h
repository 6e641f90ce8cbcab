// The terminal front end's own options, after the shared start-up options have been taken
// out of the command line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tavo {

struct TCliOptions {
  int drive = -1;  // list index; -1: the first
  bool yes = false;
  bool reboot = false;
  bool list = false;
  bool check = false;  // only check the drives with reading commands (see cli_check.h)
};

// False on the first argument it does not know or a malformed --drive, with error set.
bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& options, std::string& error);

void PrintCliUsage(std::FILE* to);

}  // namespace tavo
