#include "session/run_history.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "session/run_outcome.h"

namespace tavo {

namespace {

constexpr char kStarted[] = "TAVOFlash run, started ";

// Runs of blanks become one, and none at either end.
std::string SingleSpaced(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The value of a "key: value" line, when line is one for key.
bool Field(const std::string& line, const std::string& key, std::string& value) {
  if (line.size() < key.size() + 2 || line.compare(0, key.size(), key) != 0 ||
      line.compare(key.size(), 2, ": ") != 0) {
    return false;
  }
  value = line.substr(key.size() + 2);
  return true;
}

}  // namespace

TPastRun ParseRunLog(const std::string& text, const std::string& path) {
  TPastRun run;
  run.path = path;
  std::istringstream in(text);
  std::string drive;
  std::string line;
  // The header ends at the first empty line; the fields after the run are looked for in
  // the rest (timed log lines begin with their time, so they never look like one).
  bool header = true;
  while (std::getline(in, line)) {
    if (header && line.rfind(kStarted, 0) == 0) {
      run.date = line.substr(sizeof kStarted - 1);
    } else if (header && line.empty()) {
      header = false;
    } else if (header) {
      Field(line, "program", run.program) || Field(line, "device", run.node) ||
          Field(line, "drive", drive);
    } else {
      Field(line, "result", run.result) || Field(line, "old revision", run.oldRevision) ||
          Field(line, "new revision", run.newRevision) || Field(line, "outcome", run.summary);
    }
  }
  const std::string revision = ItemRevision(drive);
  run.identity = SingleSpaced(drive.substr(0, drive.size() - revision.size()));
  if (run.oldRevision.empty()) run.oldRevision = revision;
  return run;
}

std::vector<TPastRun> ReadRunHistory(const std::string& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  if (!directory.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("run-", 0) == 0 && entry.path().extension() == ".log" &&
          entry.is_regular_file(ec)) {
        files.push_back(entry.path());
      }
    }
  }
  // "run-20240501-123456-789.log" and, for a second run in the same millisecond,
  // "run-20240501-123456-789-1.log": the names without ".log" sort by start time.
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.stem().string() > b.stem().string(); });
  std::vector<TPastRun> runs;
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file);
    if (!in) continue;
    std::ostringstream text;
    text << in.rdbuf();
    runs.push_back(ParseRunLog(text.str(), file.string()));
  }
  return runs;
}

}  // namespace tavo
