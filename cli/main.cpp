// tavoflash-cli: the flash procedure in a terminal. Copies the image header, extracts the
// image identity, asks for confirmation, lists the matching drives and flashes the chosen
// one, printing every log line as it happens.
//
// Exit codes: 0 the run verified (or --list found drives), 1 the run failed or the user
// cancelled, 2 bad usage or no matching drive.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_port.h"
#include "cli/startup.h"
#include "drive/clock.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"

namespace tavo {
namespace {

constexpr int kExitVerified = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct TCliOptions {
  int drive = -1;  // list index; -1: the first
  bool yes = false;
  bool reboot = false;
  bool list = false;
  bool help = false;
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: tavoflash-cli [options]\n"
               "Rewrites the firmware of an attached optical drive with the image built into\n"
               "this program.\n"
               "  --drive N     flash matching drive N of the list (default 0)\n"
               "  --yes         answer OK to the confirmation; the restart question is\n"
               "                answered Cancel unless --reboot is given\n"
               "  --reboot      answer OK to the restart question\n"
               "  --list        only list the matching drives\n"
               "  --help        show this text\n"
               "%s",
               StartupOptionsHelp().c_str());
}

bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string driveText;
    bool driveGiven = false;
    if (arg == "--drive") {
      if (i + 1 >= args.size()) {
        error = "--drive needs a list index";
        return false;
      }
      driveText = args[++i];
      driveGiven = true;
    } else if (arg.rfind("--drive=", 0) == 0) {
      driveText = arg.substr(8);
      driveGiven = true;
    } else if (arg == "--yes" || arg == "-y") {
      options.yes = true;
    } else if (arg == "--reboot") {
      options.reboot = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else {
      error = "unknown option " + arg;
      return false;
    }
    if (driveGiven) {
      if (driveText.empty() || driveText.size() > 2 ||
          driveText.find_first_not_of("0123456789") != std::string::npos) {
        error = "--drive needs a list index (0 to 9), not '" + driveText + "'";
        return false;
      }
      options.drive = std::stoi(driveText);
    }
  }
  return true;
}

int Run(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  TStartupOptions startup;
  std::vector<std::string> rest;
  std::string error;
  TCliOptions options;
  if (!ParseStartupArgs(args, startup, rest, error) || !ParseCliArgs(rest, options, error)) {
    std::fprintf(stderr, "tavoflash-cli: %s\n", error.c_str());
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (options.help) {
    PrintUsage(stdout);
    return kExitVerified;
  }
  ApplyTransportEnvironment(startup);

  TRealClock clock;
  TCliAtapiSink sink;
  TDriveSession session(startup, clock, sink);
  if (!session.Ok()) {
    std::fprintf(stderr, "tavoflash-cli: %s\n", session.Error().c_str());
    return kExitUsage;
  }

  TCliPort::TOptions portOptions;
  portOptions.emulated = session.Emulated();
  portOptions.showProgress = isatty(STDERR_FILENO) != 0;
  if (options.reboot) {
    portOptions.rebootAnswer = true;
  } else if (options.yes) {
    portOptions.rebootAnswer = false;
  }
  TCliPort ui(portOptions);

  TFlashState state;
  TFlashEngine engine(state, session.Atapi(), EmbeddedImage(), ui, clock);
  engine.CopyHeader();
  engine.BitBtn1Click();

  if (!options.list) {
    const std::string question = TFlashEngine::ConfirmationText(state.edit1);
    bool ok = true;
    if (options.yes) {
      std::printf("%s OK\n", question.c_str());
      std::fflush(stdout);
    } else {
      ok = AskOkCancel(question, stdin, stdout);
    }
    if (!ok) {
      std::fprintf(stderr, "tavoflash-cli: cancelled, nothing was sent to a drive.\n");
      return kExitFailed;
    }
  }

  engine.FillDriveList();
  if (state.items.empty()) {
    std::fprintf(stderr, "Can't find the device to upgrade !!\n");
    return kExitUsage;
  }
  for (size_t i = 0; i < state.items.size(); ++i) {
    std::printf("[%zu] %s\n", i, state.items[i].c_str());
  }
  std::fflush(stdout);
  if (options.list) return kExitVerified;

  if (options.drive >= 0) {
    if (options.drive >= static_cast<int>(state.items.size())) {
      std::fprintf(stderr, "tavoflash-cli: there is no drive %d in the list (0 to %zu).\n",
                   options.drive, state.items.size() - 1);
      return kExitUsage;
    }
    state.selectedItem = options.drive;
  }
  engine.SelectCurrentItem();

  std::printf("%s\n", TFlashEngine::CaptionFor(state.edit1).c_str());
  std::printf("Selected: %s\n", state.SelectedItemText().c_str());
  std::fflush(stdout);
  for (const char* line : TFlashEngine::kNoticeLines) ui.AddLog(line);

  engine.BitBtn2Click();
  return engine.LastRunVerified() ? kExitVerified : kExitFailed;
}

}  // namespace
}  // namespace tavo

int main(int argc, char** argv) {
  return tavo::Run(argc, argv);
}
