#include "session/output_files.h"

#include "platform/output_file.h"

namespace tavo {

std::string CheckOutputFiles(const TStartupOptions& options) {
  if (options.logPath.empty()) return {};
  std::string reason;
  const int fd = OpenOutputFile(options.logPath, TOutputMode::Append, reason);
  if (fd < 0) return "cannot write the log to " + options.logPath + ": " + reason;
  CloseOutputFile(fd);
  return {};
}

}  // namespace tavo
