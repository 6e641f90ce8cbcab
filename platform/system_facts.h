// Facts about the machine a support report states, and the private values it must never
// hold: read from the kernel, /etc and the account database. No drive is looked at.
#pragma once

#include <string>
#include <vector>

namespace tavo {

struct TSystemFacts {
  std::string kernelRelease;  // uname's release ("6.1.0-18-amd64"); "unknown" on failure
  std::string distribution;   // os-release NAME and VERSION ("Debian GNU/Linux 12 (bookworm)")
};

TSystemFacts ReadSystemFacts();

// The values that identify the user or the machine, by kind: user names (the account's,
// $USER, $LOGNAME), home folders ($HOME, the account's), host names (the kernel's host
// name, and its first label), machine ids (/etc/machine-id). Empty values are left out.
struct TPrivateValues {
  std::vector<std::string> users;
  std::vector<std::string> homes;
  std::vector<std::string> hosts;
  std::vector<std::string> machineIds;
};

TPrivateValues ReadPrivateValues();

// The program's journal entries of the run whose log is logPath, as "time host
// tavoflash[pid]: message" lines. False when the journal cannot be read (no journal on
// this machine, or no right to read it), with why saying so.
bool ReadRunJournal(const std::string& logPath, std::vector<std::string>& lines, std::string& why);

}  // namespace tavo
