// The files named on the command line that the program writes, checked before any drive
// is touched: a file that cannot be written is bad usage, said at once, not a run that
// goes on and loses its log.
#pragma once

#include <string>

#include "session/options.h"

namespace tavo {

// "" when every file can be written, else one line naming the file and the reason:
// "cannot write the log to /nonexistent/x.log: No such file or directory". --log FILE
// is created when missing. (--record FILE is made by the drive session, which checks it
// the same way before its first command.)
std::string CheckOutputFiles(const TStartupOptions& options);

}  // namespace tavo
