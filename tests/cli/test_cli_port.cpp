// The terminal's user-interface port: lines on standard output, questions, progress.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "cli/cli_port.h"
#include "session/line_explanations.h"
#include "tests/support/virtual_rig.h"

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
  // The failure line's plain explanation goes beside it, not into the procedure's output.
  EXPECT_EQ(err.Text(),
            "  " + ExplainLine("Status:0x2 ; Err:Flash command(W) has problems.", "tavoflash-cli") +
                "\n");
}

// The percentages a terminal was shown, in order.
std::vector<int> ShownPercentages(const std::string& drawn) {
  std::vector<int> shown;
  for (size_t at = drawn.find("%  "); at != std::string::npos; at = drawn.find("%  ", at + 1)) {
    size_t start = at;
    while (start > 0 && (std::isdigit(static_cast<unsigned char>(drawn[start - 1])) != 0)) --start;
    shown.push_back(std::stoi(drawn.substr(start, at - start)));
  }
  return shown;
}

// A whole run through the terminal's port: one percentage for the run that only ever grows,
// through every bank and phase (the bar's own range restarts with each of them), up to the
// read-back's last piece.
TEST(CliPort, ProgressOfAWholeRunOnlyMovesForward) {
  for (const char* profile : {"default", "commit-illegal", "bad-verify"}) {
    SCOPED_TRACE(profile);
    test::TVirtualRig rig;
    rig.Attach({*FindProfile(profile)});
    rig.StartUp();
    TStream out, err, in;
    TCliPort::TOptions options;
    options.showProgress = true;
    TCliPort port(options, out.get(), err.get(), in.get());
    TFlashEngine engine(rig.state, *rig.atapi, EmbeddedImage(), port, rig.clock);
    engine.CopyHeader();
    engine.BitBtn1Click();
    engine.BitBtn2Click();
    const std::vector<int> shown = ShownPercentages(err.Text());
    ASSERT_GT(shown.size(), 20u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_GE(shown.back(), 99);  // the read-back's last piece
  }
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
  EXPECT_EQ(err.Text(),
            "tavoflash-cli:  15%  sending bank 1 of 8\n"
            "tavoflash-cli:  65%  waiting for the drive to finish programming: 0 s so far, at "
            "most 120 s more\n"
            "tavoflash-cli:  66%  waiting for the drive to finish programming: 10 s so far, at "
            "most 110 s more\n"
            "tavoflash-cli:  67%  waiting for the drive to finish programming: 20 s so far, at "
            "most 100 s more\n");
  EXPECT_EQ(out.Text(), "");  // standard output keeps the procedure's lines only
}

TEST(CliPort, OnATerminalTheProgressLineNamesThePhase) {
  TStream out, err, in;
  TCliPort::TOptions options;
  options.showProgress = true;
  TCliPort port(options, out.get(), err.get(), in.get());
  port.SetProgress(80);
  port.SetPhase({.kind = TPhaseKind::WaitingForDrive, .elapsedSec = 36, .limitSec = 120});
  const std::string drawn = err.Text();
  EXPECT_NE(drawn.rfind("\r\033[K[######    ]  69%  waiting for the drive to finish "
                        "programming: 36 s so far, at most 84 s more"),
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
