#include "cli/cli_options.h"

#include "session/option_hints.h"
#include "session/options.h"

namespace tavo {

void PrintCliUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: tavoflash-cli [options]\n"
               "Rewrites the firmware of an attached optical drive with the image built into\n"
               "this program.\n"
               "  --drive=N, --drive N, --drive DEVICE\n"
               "                flash matching drive N of the list, counted from 0 (default\n"
               "                0), or the listed drive at DEVICE (for example /dev/sr1)\n"
               "  --yes         answer OK to the confirmation and to the last question\n"
               "                (which drive, which revision change); the restart\n"
               "                question is answered Cancel unless --reboot is given\n"
               "  --reboot      answer OK to the restart question\n"
               "  --list        only list the matching drives\n"
               "  --check       only check whether a run would get past its checks on each\n"
               "                drive, sending nothing that writes; names the line that\n"
               "                would stop the run\n"
               "  --drive all   flash every matching drive in turn; stops after a drive\n"
               "                that was written but not verified\n"
               "  --if-needed   leave a drive that already reports the image's revision or\n"
               "                a newer one alone (nothing is sent that writes; exit\n"
               "                status 0)\n"
               "  --allow-older let --yes answer a downgrade (an image older than the\n"
               "                drive's revision); without it such a run is refused\n"
               "                before anything is sent (exit status 4)\n"
               "  --json        JSON Lines on standard output and nothing else (needs\n"
               "                --yes for a run; see docs/json.md)\n"
               "  --history     list the runs kept in the run logs, newest first; no\n"
               "                drive is looked at\n"
               "  --restore FILE, --restore=FILE\n"
               "                flash a backup the program made back to its drive, with the\n"
               "                same checks, last question and verification as any run\n"
               "  --restore     alone: list the backups (drive, revision, date)\n"
               "  --report [FILE]\n"
               "                write a support report of the newest run to FILE (default\n"
               "                tavoflash-report-DATE.tar.gz here): its log, recording and\n"
               "                system facts, with user, home, host and machine id replaced;\n"
               "                replay it with --emulate=replay:FILE\n"
               "  --report-run N\n"
               "                report the Nth run of --history's list instead (1 the newest)\n"
               "  --help        show this text\n"
               "  --version     show the program's version and the image it carries\n"
               "Exit status: 0 verified or nothing to do, 1 failed with nothing written,\n"
               "2 bad usage or no matching drive, 3 written but not verified (do not power\n"
               "off), 4 refused before anything was sent, 128+N ended by signal N.\n"
               "%s",
               StartupOptionsHelp().c_str());
}

void PrintCliUsageError(const std::string& error, std::FILE* to) {
  std::fprintf(to, "tavoflash-cli: %s\nTry 'tavoflash-cli --help'.\n", error.c_str());
}

bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& options, std::string& error) {
  bool driveSeen = false;
  std::string firstDrive;  // the value of the first --drive
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string driveText;
    bool driveGiven = false;
    if (arg == "--drive") {
      if (i + 1 >= args.size()) {
        error = "option '--drive' needs a list index or a device";
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
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--if-needed") {
      options.ifNeeded = true;
    } else if (arg == "--allow-older") {
      options.allowOlder = true;
    } else if (arg == "--history") {
      options.history = true;
    } else if (arg == "--restore") {
      // The file is the next argument unless that is another option: alone, it lists.
      options.restore = true;
      if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) options.restoreFile = args[++i];
    } else if (arg.rfind("--restore=", 0) == 0) {
      options.restore = true;
      options.restoreFile = arg.substr(10);
      if (options.restoreFile.empty()) {
        error = "option '--restore=' needs a backup file";
        return false;
      }
    } else if (arg == "--report" || arg.rfind("--report=", 0) == 0) {
      options.report = true;
      // The file is optional: a following argument that is no option names it.
      if (arg != "--report") {
        options.reportPath = arg.substr(9);
      } else if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) {
        options.reportPath = args[++i];
      }
      if (arg != "--report" && options.reportPath.empty()) {
        error = "--report= needs a file name";
        return false;
      }
    } else if (arg == "--report-run" || arg.rfind("--report-run=", 0) == 0) {
      std::string number;
      if (arg == "--report-run") {
        if (i + 1 >= args.size()) {
          error = "option '--report-run' needs a run number";
          return false;
        }
        number = args[++i];
      } else {
        number = arg.substr(13);
      }
      if (number.empty() || number.size() > 6 ||
          number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) < 1) {
        error = "--report-run needs a run number from 1 (the newest run), not '" + number + "'";
        return false;
      }
      options.reportRun = std::stoi(number);
    } else {
      std::vector<std::string> known = {"--drive",       "--yes",     "--reboot",  "--list",
                                        "--check",       "--json",    "--history", "--if-needed",
                                        "--allow-older", "--restore", "--report",  "--report-run"};
      known.insert(known.end(), StartupOptionNames().begin(), StartupOptionNames().end());
      error = UnknownOptionError(arg, known);
      return false;
    }
    if (driveGiven && driveSeen) {
      // Which one was meant cannot be known: a second --drive is never taken silently.
      error = "--drive was given twice ('" + firstDrive + "' and '" + driveText +
              "'): give one list index, one device or all";
      return false;
    }
    if (driveGiven) {
      driveSeen = true;
      firstDrive = driveText;
    }
    if (driveGiven && driveText == "all") {
      options.allDrives = true;
      continue;
    }
    // Anything but digits names a device node (/dev/sr1; emulated:sr1 for virtual drives).
    if (driveGiven && !driveText.empty() &&
        driveText.find_first_not_of("0123456789") != std::string::npos) {
      // A bare kernel name ("sr0") means its node under /dev.
      const bool bare =
          driveText.find('/') == std::string::npos && driveText.find(':') == std::string::npos;
      options.drivePath = bare ? "/dev/" + driveText : driveText;
    } else if (driveGiven) {
      // The list holds at most ten drives: one digit.
      if (driveText.empty() || driveText.size() > 1 ||
          driveText.find_first_not_of("0123456789") != std::string::npos) {
        error = "--drive needs a list index (0 to 9) or a device such as /dev/sr1, not '" +
                driveText + "'";
        return false;
      }
      options.drive = std::stoi(driveText);
    }
  }
  return true;
}

bool WantsJson(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--json") return true;
  }
  return false;
}

bool CheckCliCombination(const TCliOptions& options, std::string& error) {
  const bool driveChosen = options.drive >= 0 || !options.drivePath.empty() || options.allDrives;
  if (options.reportRun > 0 && !options.report) {
    error = "--report-run goes with --report";
  } else if (options.report && (options.history || options.check || options.list || options.json ||
                                options.yes || driveChosen)) {
    error = "--report writes a report of a past run: it goes only with --report-run";
  } else if (options.history && (options.check || options.list)) {
    error = "--history does not go with --check or --list";
  } else if (options.history && driveChosen) {
    error = "--history looks at no drive: it does not go with --drive";
  } else if (options.list && options.check) {
    error = "--list and --check do not go together: --check lists the drives too";
  } else if (options.list && driveChosen) {
    error = "--list shows every matching drive: it does not go with --drive";
  } else if (options.json && options.check) {
    error = "--json does not go with --check";
  } else if (options.restore && (options.check || options.list || options.history)) {
    error = "--restore does not go with --check, --list or --history";
  } else if (options.restore && options.allDrives) {
    error =
        "--restore writes one drive's backup back to that drive: it does not go with "
        "--drive all";
  } else if (options.restore && options.restoreFile.empty() && options.json) {
    error = "--restore without a file lists the backups as text: it does not go with --json";
  } else if (options.json && !options.yes && !options.history && !options.list &&
             !(options.restore && options.restoreFile.empty())) {
    error = "--json needs --yes: a run with --json never asks a question";
  }
  return error.empty();
}

}  // namespace tavo
