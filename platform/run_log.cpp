#include "platform/run_log.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <tuple>

#include "platform/output_file.h"
#include "platform/run_retention.h"

namespace tavo {

namespace {

// The journal's catalogue id of a TAVOFlash run summary.
constexpr char kMessageId[] = "MESSAGE_ID=5b1e0f3c9a6d4e21b7c84f2d6a9e3b10";
constexpr char kPrefix[] = "run-";

// Local time as "2024-05-01 12:34:56.789" (or with '-' for ' ' and ':' in file names).
std::string Stamp(bool forFileName) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const int millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, forFileName ? "%Y%m%d-%H%M%S" : "%Y-%m-%d %H:%M:%S", &local);
  char full[48];
  std::snprintf(full, sizeof full, forFileName ? "%s-%03d" : "%s.%03d", text, millis);
  return full;
}

bool MakeDirectories(const std::string& path, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    error = "cannot create " + path + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

std::string TRunLog::DefaultDirectory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::string(state) + "/tavoflash";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.local/state/tavoflash";
  }
  return {};
}

TRunLog::TRunLog(std::string directory, std::string extraPath)
    : directory_(std::move(directory)), extraPath_(std::move(extraPath)) {}

TRunLog::~TRunLog() {
  if (file_ != nullptr) std::fclose(file_);
  if (extra_ != nullptr) std::fclose(extra_);
}

bool TRunLog::Begin(const std::vector<std::pair<std::string, std::string>>& header) {
  if (file_ != nullptr) End("interrupted", "A new run started before this one ended.");
  error_.clear();
  path_.clear();
  device_.clear();
  if (!directory_.empty() && MakeDirectories(directory_, error_)) {
    // Runs started within the same millisecond get a suffix rather than share a file.
    const std::string base = directory_ + "/" + kPrefix + Stamp(true);
    for (int n = 0; n < 100 && file_ == nullptr; ++n) {
      path_ = base + (n == 0 ? "" : "-" + std::to_string(n)) + ".log";
      file_ = std::fopen(path_.c_str(), "wx");
      if (file_ == nullptr && errno != EEXIST) break;
    }
    if (file_ == nullptr) {
      error_ = "cannot create " + path_ + ": " + std::strerror(errno);
      path_.clear();
    } else {
      ::fchmod(fileno(file_), 0600);
    }
    Rotate();
  } else if (directory_.empty()) {
    error_ = "no directory for run logs (neither XDG_STATE_HOME nor HOME is set)";
  }
  if (!extraPath_.empty()) {
    std::string reason;
    const int fd = OpenOutputFile(extraPath_, TOutputMode::Append, reason);
    extra_ = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (fd >= 0 && extra_ == nullptr) ::close(fd);
  }
  Write("TAVOFlash run, started " + Stamp(false));
  for (const auto& [name, value] : header) {
    Write(name + ": " + value);
    if (name == "device") device_ = value;
  }
  Write("");
  for (const std::string& line : pending_) Write(line);
  pending_.clear();
  return file_ != nullptr;
}

void TRunLog::Line(const std::string& text) {
  const std::string line = Stamp(false) + "  " + text;
  if (file_ == nullptr && extra_ == nullptr) {
    pending_.push_back(line);
    return;
  }
  Write(line);
}

void TRunLog::End(const std::string& summary, const std::string& text,
                  const std::vector<std::pair<std::string, std::string>>& fields) {
  Write("");
  for (const auto& [name, value] : fields) Write(name + ": " + value);
  Write("outcome: " + summary);
  Write(text);
  for (std::FILE** f : {&file_, &extra_}) {
    if (*f != nullptr) std::fclose(*f);
    *f = nullptr;
  }
  Journal(summary);
}

void TRunLog::EndWithoutRun(const std::string& summary) {
  pending_.clear();
  path_.clear();
  device_.clear();
  Journal(summary);
}

void TRunLog::Journal(const std::string& summary) {
  if (journal_ && ::access("/run/systemd/journal/socket", F_OK) == 0) {
    sd_journal_send("MESSAGE=TAVOFlash run on %s: %s", device_.empty() ? "?" : device_.c_str(),
                    summary.c_str(), kMessageId, "SYSLOG_IDENTIFIER=tavoflash", "PRIORITY=%d",
                    summary.rfind("Verified", 0) == 0 ? 6 : 3, "TAVOFLASH_LOG=%s", path_.c_str(),
                    nullptr);
  }
}

void TRunLog::Write(const std::string& text) {
  for (std::FILE* f : {file_, extra_}) {
    if (f == nullptr) continue;
    std::fprintf(f, "%s\n", text.c_str());
    std::fflush(f);
  }
}

void TRunLog::Rotate() {
  std::error_code ec;
  using TTime = std::filesystem::file_time_type;
  const TTime now = TTime::clock::now();
  // (written at a sane time, when, path): sorts oldest first.
  std::vector<std::tuple<bool, TTime, std::string>> runs;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, ec)) {
    const std::string name = entry.path().filename().string();
    const std::string path = entry.path().string();
    if (path == path_ || name.rfind(kPrefix, 0) != 0 || name.size() <= 4 ||
        name.compare(name.size() - 4, 4, ".log") != 0 || !entry.is_regular_file(ec)) {
      continue;
    }
    // A file written "later than now" was written while the clock was ahead, before
    // every file written since it was put right: it counts as older than all of them.
    const TTime written = entry.last_write_time(ec);
    runs.emplace_back(written <= now, written, path);
  }
  // Oldest first by the time each file was last written, not by the time in its name: a
  // clock that was once ahead (another system on the machine, a time zone, the autumn
  // change) names files that would otherwise outlive every newer run. The current run's
  // file is not in the list: it is always kept, with the newest kKeptRuns - 1 others.
  std::sort(runs.begin(), runs.end());
  const size_t others = path_.empty() ? kKeptRuns : kKeptRuns - 1;
  std::vector<std::string> oldestFirst;
  for (const auto& run : runs) oldestFirst.push_back(std::get<2>(run));
  RemoveOldRuns(directory_, oldestFirst, others);
}

}  // namespace tavo
