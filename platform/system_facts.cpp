#include "platform/system_facts.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace tavo {

namespace {

void AddValue(std::vector<std::string>& to, const std::string& value) {
  if (value.empty()) return;
  for (const std::string& known : to) {
    if (known == value) return;
  }
  to.push_back(value);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The value of KEY=value in an os-release file, quotes taken off.
std::string OsReleaseField(const std::string& text, const std::string& key) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return {};
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  char buffer[4096];
  while (in && text.size() < 65536) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<size_t>(in.gcount()));
  }
  return text;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

TSystemFacts ReadSystemFacts() {
  TSystemFacts facts;
  struct utsname name {};
  facts.kernelRelease = ::uname(&name) == 0 ? name.release : "unknown";
  std::string osRelease = ReadSmallFile("/etc/os-release");
  if (osRelease.empty()) osRelease = ReadSmallFile("/usr/lib/os-release");
  const std::string distro = OsReleaseField(osRelease, "NAME");
  const std::string version = OsReleaseField(osRelease, "VERSION");
  facts.distribution = distro.empty() ? "unknown" : distro + (version.empty() ? "" : " " + version);
  return facts;
}

TPrivateValues ReadPrivateValues() {
  TPrivateValues values;
  char buffer[16384];
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    AddValue(values.users, found->pw_name != nullptr ? found->pw_name : "");
    AddValue(values.homes, found->pw_dir != nullptr ? found->pw_dir : "");
  }
  AddValue(values.users, Environment("USER"));
  AddValue(values.users, Environment("LOGNAME"));
  AddValue(values.homes, Environment("HOME"));
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) {
    const std::string full = host;
    AddValue(values.hosts, full);
    AddValue(values.hosts, full.substr(0, full.find('.')));
  }
  AddValue(values.machineIds, Trimmed(ReadSmallFile("/etc/machine-id")));
  return values;
}

bool ReadRunJournal(const std::string& logPath, std::vector<std::string>& lines, std::string& why) {
  sd_journal* journal = nullptr;
  int r = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY);
  if (r < 0) {
    why = std::string("the journal cannot be opened: ") + std::strerror(-r);
    return false;
  }
  const std::string match = "TAVOFLASH_LOG=" + logPath;
  r = sd_journal_add_match(journal, match.data(), match.size());
  if (r >= 0) r = sd_journal_add_match(journal, "SYSLOG_IDENTIFIER=tavoflash", 0);
  if (r < 0) {
    sd_journal_close(journal);
    why = std::string("the journal cannot be searched: ") + std::strerror(-r);
    return false;
  }
  // Which fields a journal entry gives: "NAME=value" with a length, no terminator.
  const auto field = [journal](const char* name) {
    const void* data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(journal, name, &data, &length) < 0) return std::string();
    const std::string text(static_cast<const char*>(data), length);
    const size_t eq = text.find('=');
    return eq == std::string::npos ? std::string() : text.substr(eq + 1);
  };
  SD_JOURNAL_FOREACH(journal) {
    uint64_t usec = 0;
    sd_journal_get_realtime_usec(journal, &usec);
    const std::time_t seconds = static_cast<std::time_t>(usec / 1000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    lines.push_back(std::string(stamp) + " " + field("_HOSTNAME") + " tavoflash[" + field("_PID") +
                    "]: " + field("MESSAGE"));
  }
  sd_journal_close(journal);
  // A journal the user may not read looks empty: say so rather than "nothing happened".
  if (lines.empty()) {
    why = "the journal holds no entry of this run that this user may read";
    return false;
  }
  return true;
}

}  // namespace tavo
