// Files named on the command line for the program to write (--log FILE, --record FILE),
// opened so that a path another user prepared cannot turn the write against the user:
// a symbolic link is refused (an append or a truncation through one could reach any
// file the user may write, as root any file at all), and so is anything but a regular
// file on an ordinary file system (a FIFO would hold the program, a device or a kernel
// file in /proc or /sys is no place for a log).
#pragma once

#include <string>

namespace tavo {

enum class TOutputMode {
  Append,     // created when missing, else written at its end
  CreateNew,  // refused when it exists
  Replace,    // created when missing, else emptied (only once it passed every check)
};

// The open descriptor (close-on-exec, blocking writes), or -1 with reason saying why in a
// few words: "it is a symbolic link", "it exists already", "No such file or directory".
int OpenOutputFile(const std::string& path, TOutputMode mode, std::string& reason);
void CloseOutputFile(int fd);

}  // namespace tavo
