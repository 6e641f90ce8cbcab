#include "cli/cli_port.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tavo {

namespace {

// Runs a program with its arguments and waits for it. True when it exited with 0.
bool RunProgram(const std::vector<const char*>& argv, std::string& error) {
  std::vector<char*> args;
  for (const char* a : argv) args.push_back(const_cast<char*>(a));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork failed: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      error = std::string("waitpid failed: ") + std::strerror(errno);
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    error = std::string(argv[0]) + " could not be started";
  } else if (WIFEXITED(status)) {
    error = std::string(argv[0]) + " exited with " + std::to_string(WEXITSTATUS(status));
  } else {
    error = std::string(argv[0]) + " ended abnormally";
  }
  return false;
}

}  // namespace

bool AskOkCancel(const std::string& question, std::FILE* in, std::FILE* out) {
  std::fprintf(out, "%s [y/N] ", question.c_str());
  std::fflush(out);
  std::string answer;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    answer += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::fputc('\n', out);
  std::fflush(out);
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) {
    answer.pop_back();
  }
  return answer == "y" || answer == "yes";
}

bool RequestSystemRestart(std::string& error) {
  std::string logindError;
  if (RunProgram({"busctl", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
                  "org.freedesktop.login1.Manager", "Reboot", "b", "true"},
                 logindError)) {
    return true;
  }
  std::string systemctlError;
  if (RunProgram({"systemctl", "reboot"}, systemctlError)) return true;
  error = logindError + "; " + systemctlError;
  return false;
}

TCliPort::TCliPort(const TOptions& options, std::FILE* out, std::FILE* err, std::FILE* in)
    : options_(options), out_(out), err_(err), in_(in) {}

void TCliPort::ClearProgressLine() {
  if (!progressLineOpen_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  progressLineOpen_ = false;
}

void TCliPort::AddLog(const std::string& text) {
  ClearProgressLine();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void TCliPort::SetProgressRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  shownTenth_ = -1;
}

void TCliPort::SetProgress(int value) {
  if (!options_.showProgress) return;
  const long long span = static_cast<long long>(maximum_) - minimum_;
  if (span <= 0) return;
  long long tenth = (static_cast<long long>(value) - minimum_) * 10 / span;
  if (tenth < 0) tenth = 0;
  if (tenth > 10) tenth = 10;
  if (tenth == shownTenth_) return;
  shownTenth_ = static_cast<int>(tenth);
  std::fprintf(err_, "\r\033[K[%-10s] %3d%%", std::string(shownTenth_, '#').c_str(),
               shownTenth_ * 10);
  std::fflush(err_);
  progressLineOpen_ = true;
}

bool TCliPort::AskReboot() {
  ClearProgressLine();
  const std::string question = "Reboot this computer right now ?";
  if (options_.rebootAnswer) {
    std::fprintf(out_, "%s %s\n", question.c_str(), *options_.rebootAnswer ? "OK" : "Cancel");
    std::fflush(out_);
    return *options_.rebootAnswer;
  }
  return AskOkCancel(question, in_, out_);
}

void TCliPort::RequestReboot() {
  if (options_.emulated) {
    std::fprintf(out_, "Emulated drives: the computer would restart now (not requested).\n");
    std::fflush(out_);
    return;
  }
  std::string error;
  if (!RequestSystemRestart(error)) {
    std::fprintf(err_, "tavoflash-cli: the restart request failed: %s\n", error.c_str());
  }
}

void TCliAtapiSink::ShowPlainMessage(const std::string& text) {
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace tavo
