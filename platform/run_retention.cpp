#include "platform/run_retention.h"

#include <filesystem>
#include <fstream>
#include <set>

namespace tavo {

namespace {

constexpr char kRecordingSuffix[] = ".jsonl.gz";

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string ReadLog(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  char buffer[8192];
  // A run log is small; a huge file is not read whole to decide its fate.
  while (in && text.size() < (size_t{4} << 20)) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<size_t>(in.gcount()));
  }
  return text;
}

}  // namespace

std::string RecordingOfLog(const std::string& logPath) {
  const std::string base =
      EndsWith(logPath, ".log") ? logPath.substr(0, logPath.size() - 4) : logPath;
  return base + kRecordingSuffix;
}

bool RunEndedWell(const std::string& logText) {
  for (const char* result : {"\nresult: verified\n", "\nresult: refused\n"}) {
    if (logText.find(result) != std::string::npos) return true;
  }
  return false;
}

void RemoveOldRuns(const std::string& directory, const std::vector<std::string>& logsOldestFirst,
                   size_t keep) {
  std::error_code ec;
  const size_t older = logsOldestFirst.size() > keep ? logsOldestFirst.size() - keep : 0;
  size_t unverifiedKept = 0;
  // Newest of the older runs first: the unverified ones that stay are the most recent.
  for (size_t i = older; i-- > 0;) {
    const std::string& log = logsOldestFirst[i];
    if (unverifiedKept < kKeptUnverifiedRuns && !RunEndedWell(ReadLog(log))) {
      ++unverifiedKept;
      continue;
    }
    std::filesystem::remove(log, ec);
    std::filesystem::remove(RecordingOfLog(log), ec);
  }
  // Recordings without their log.
  std::set<std::string> orphans;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("run-", 0) != 0 || !EndsWith(name, kRecordingSuffix)) continue;
    const std::string path = entry.path().string();
    const std::string log = path.substr(0, path.size() - (sizeof kRecordingSuffix - 1)) + ".log";
    if (!std::filesystem::exists(log, ec)) orphans.insert(path);
  }
  for (const std::string& path : orphans) std::filesystem::remove(path, ec);
}

}  // namespace tavo
