#include "session/run_history.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
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

// The recorded start "2024-05-01 12:34:56.789" (local time) in seconds since the epoch.
std::optional<std::time_t> StartTime(const std::string& date) {
  std::tm local{};
  std::istringstream in(date);
  in >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
  if (in.fail()) return std::nullopt;
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

// When a log without a readable start was last written, in seconds since the epoch.
std::time_t WriteTime(const std::filesystem::path& file) {
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(file, ec);
  if (ec) return 0;
  return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
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
  struct TFound {
    TPastRun run;
    bool sane = true;  // started no later than now
    std::time_t started = 0;
  };
  std::vector<TFound> found;
  std::error_code ec;
  const std::time_t now = std::time(nullptr);
  if (!directory.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("run-", 0) != 0 || entry.path().extension() != ".log" ||
          !entry.is_regular_file(ec)) {
        continue;
      }
      std::ifstream in(entry.path());
      if (!in) continue;
      std::ostringstream text;
      text << in.rdbuf();
      TFound f{ParseRunLog(text.str(), entry.path().string())};
      const std::optional<std::time_t> started = StartTime(f.run.date);
      f.started = started ? *started : WriteTime(entry.path());
      f.sane = f.started <= now;
      found.push_back(std::move(f));
    }
  }
  // Newest first by the run's own start time, with the rule the rotation of the logs uses:
  // a run that started "later than now" ran while the clock was ahead, before every run
  // started since it was put right, and counts as older than all of them. The file name
  // only breaks a tie.
  std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
    if (a.sane != b.sane) return a.sane;
    if (a.started != b.started) return a.started > b.started;
    if (a.run.date != b.run.date) return a.run.date > b.run.date;
    return a.run.path > b.run.path;
  });
  std::vector<TPastRun> runs;
  runs.reserve(found.size());
  for (TFound& f : found) runs.push_back(std::move(f.run));
  return runs;
}

}  // namespace tavo
