// The terminal's user-interface port: lines on standard output, questions, progress.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/cli_port.h"

namespace tavo {
namespace {

// A temporary stream and what was written to it.
class TStream {
 public:
  TStream() : file_(std::tmpfile()) {}
  ~TStream() { std::fclose(file_); }
  std::FILE* get() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) out += static_cast<char>(c);
    return out;
  }
  void Feed(const std::string& text) {
    std::fputs(text.c_str(), file_);
    std::rewind(file_);
  }

 private:
  std::FILE* file_;
};

TEST(CliPort, EveryLogLineIsItsOwnLineOnStandardOutput) {
  TStream out, err, in;
  TCliPort port({}, out.get(), err.get(), in.get());
  port.AddLog("Flashing ..");
  port.SetProgress(50);  // no progress drawing asked for
  port.AddLog("Status:0x2 ; Err:Flash command(W) has problems.");
  EXPECT_EQ(out.Text(), "Flashing ..\nStatus:0x2 ; Err:Flash command(W) has problems.\n");
  EXPECT_EQ(err.Text(), "");
}

TEST(CliPort, ProgressIsDrawnOnlyWhenItMovesByATenth) {
  TStream out, err, in;
  TCliPort::TOptions options;
  options.showProgress = true;
  TCliPort port(options, out.get(), err.get(), in.get());
  port.SetProgressRange(0, 65533);
  for (int p = 0; p <= 65533; p += 7) port.SetProgress(p);
  const std::string drawn = err.Text();
  size_t count = 0;
  for (size_t at = drawn.find('%'); at != std::string::npos; at = drawn.find('%', at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 10u);  // 0% .. 90%; 100% is never reached by the last position
  EXPECT_EQ(out.Text(), "");
}

TEST(CliPort, RestartAnswerFromOptionsOrTerminal) {
  {
    TStream out, err, in;
    TCliPort::TOptions options;
    options.rebootAnswer = false;
    TCliPort port(options, out.get(), err.get(), in.get());
    EXPECT_FALSE(port.AskReboot());
    EXPECT_EQ(out.Text(), "Reboot this computer right now ? Cancel\n");
  }
  for (auto [typed, ok] : std::vector<std::pair<std::string, bool>>{
           {"y\n", true}, {"YES\n", true}, {"n\n", false}, {"", false}, {"maybe\n", false}}) {
    SCOPED_TRACE(typed);
    TStream out, err, in;
    in.Feed(typed);
    TCliPort port({}, out.get(), err.get(), in.get());
    EXPECT_EQ(port.AskReboot(), ok);
    EXPECT_THAT(out.Text(), ::testing::StartsWith("Reboot this computer right now ? [y/N]"));
  }
}

TEST(CliPort, RestartRequestGoesToTheRestarter) {
  TStream out, err, in;
  TCliPort* portSeen = nullptr;
  TSystemRestarter restarter(
      true, {.log = [&](const std::string& line) { portSeen->AddLog(line); }, .failure = nullptr});
  TCliPort::TOptions options;
  options.restarter = &restarter;
  TCliPort port(options, out.get(), err.get(), in.get());
  portSeen = &port;
  port.RequestReboot();
  EXPECT_EQ(out.Text(), std::string(TSystemRestarter::kVirtualDrivesLine) + "\n");
  EXPECT_EQ(err.Text(), "");
}

}  // namespace
}  // namespace tavo
