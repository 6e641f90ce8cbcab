#include "cli/cli_options.h"

#include "session/options.h"

namespace tavo {

void PrintCliUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: tavoflash-cli [options]\n"
               "Rewrites the firmware of an attached optical drive with the image built into\n"
               "this program.\n"
               "  --drive N     flash matching drive N of the list (default 0)\n"
               "  --yes         answer OK to the confirmation; the restart question is\n"
               "                answered Cancel unless --reboot is given\n"
               "  --reboot      answer OK to the restart question\n"
               "  --list        only list the matching drives\n"
               "  --check       only check whether a run would get past its checks on each\n"
               "                drive, sending nothing that writes; names the line that\n"
               "                would stop the run\n"
               "  --help        show this text\n"
               "  --version     show the program's version and the image it carries\n"
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
    } else if (arg == "--check") {
      options.check = true;
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

}  // namespace tavo
