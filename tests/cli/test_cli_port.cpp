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

TEST(CliPort, PhasesOnAPipeArePlainLinesAtEachChangeAndEveryTenSecondsOfAWait) {
  TStream out, err, in;
  TCliPort::TOptions options;
  options.phaseLines = true;
  TCliPort port(options, out.get(), err.get(), in.get());
  port.SetPhase({.kind = TPhaseKind::SendingBank, .bank = 1, .banks = 8});
  port.SetPhase({.kind = TPhaseKind::SendingBank, .bank = 1, .banks = 8});  // no change
  for (int s = 0; s <= 25; ++s) {
    port.SetPhase({.kind = TPhaseKind::WaitingForDrive, .elapsedSec = s, .limitSec = 120});
  }
  EXPECT_EQ(
      err.Text(),
      "tavoflash-cli: sending bank 1 of 8\n"
      "tavoflash-cli: waiting for the drive to finish programming: 0 s, gives up at 120 s\n"
      "tavoflash-cli: waiting for the drive to finish programming: 10 s, gives up at 120 s\n"
      "tavoflash-cli: waiting for the drive to finish programming: 20 s, gives up at 120 s\n");
  EXPECT_EQ(out.Text(), "");  // standard output keeps the procedure's lines only
}

TEST(CliPort, OnATerminalTheProgressLineNamesThePhase) {
  TStream out, err, in;
  TCliPort::TOptions options;
  options.showProgress = true;
  TCliPort port(options, out.get(), err.get(), in.get());
  port.SetProgress(80);
  port.SetPhase({.kind = TPhaseKind::WaitingForDrive, .elapsedSec = 34, .limitSec = 120});
  const std::string drawn = err.Text();
  EXPECT_NE(
      drawn.rfind("\r\033[K[########  ]  80%  waiting for the drive to finish programming: 34 s, "
                  "gives up at 120 s"),
      std::string::npos);
  port.AddLog("Flash Complete!!");  // the line is cleared before a log line
  EXPECT_EQ(out.Text(), "Flash Complete!!\n");
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
