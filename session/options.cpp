#include "session/options.h"

#include <cstdlib>
#include <utility>

#include "emulator/profiles.h"
#include "session/emulate_option.h"
#include "session/option_hints.h"
#include "session/transport_choice.h"

namespace tavo {

namespace {

constexpr char kTransportEnv[] = "TAVOFLASH_TRANSPORT";

}  // namespace

TOptionResult ParseStartupOption(const std::string& arg, TStartupOptions& options,
                                 std::string& error) {
  if (std::optional<TEmulateChoice> choice = MatchEmulateArgument(arg)) {
    if (!choice->Ok()) {
      error = choice->error;
      return TOptionResult::Bad;
    }
    options.emulate = true;
    options.profiles = std::move(choice->profiles);
    options.driveFiles = std::move(choice->files);
    options.replayFile = std::move(choice->replayFile);
    return TOptionResult::Taken;
  }
  if (arg.rfind("--record=", 0) == 0 && arg.size() > 9) {
    options.recordFile = arg.substr(9);
    return TOptionResult::Taken;
  }
  if (arg == "--record" || arg == "--record=") {
    error = "--record needs a file name: --record FILE";
    return TOptionResult::Bad;
  }
  if (arg == "--no-backup") {
    options.noBackup = true;
    return TOptionResult::Taken;
  }
  if (arg == "--record-overwrite") {
    options.recordOverwrite = true;
    return TOptionResult::Taken;
  }
  const std::string prefix = "--transport=";
  if (arg.rfind(prefix, 0) == 0) {
    const TTransportChoice choice = ParseTransportName(arg.substr(prefix.size()));
    if (!choice.ok) {
      error = choice.error;
      return TOptionResult::Bad;
    }
    options.aspi = choice.kind == TTransportKind::Aspi;
    options.transportGiven = true;
    return TOptionResult::Taken;
  }
  if (arg == "--transport") {
    error = "option '--transport' needs a value (aspi or passthrough)";
    return TOptionResult::Bad;
  }
  if (arg.rfind("--log=", 0) == 0 || arg == "--log") {
    options.logPath = arg.size() > 6 ? arg.substr(6) : "";
    if (options.logPath.empty()) {
      error = "option '--log' needs a file name";
      return TOptionResult::Bad;
    }
    return TOptionResult::Taken;
  }
  return TOptionResult::NotMine;
}

bool ParseStartupArgs(const std::vector<std::string>& args, TStartupOptions& options,
                      std::vector<std::string>& rest, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (i > 0) {
      if (std::string hint = EmulateSpaceError(args[i - 1], arg); !hint.empty()) {
        error = std::move(hint);
        return false;
      }
    }
    // The options that need a value take it from the next argument too.
    if ((arg == "--transport" || arg == "--log" || arg == "--record") && i + 1 < args.size()) {
      arg += "=" + args[++i];
    }
    switch (ParseStartupOption(arg, options, error)) {
      case TOptionResult::Taken:
        break;
      case TOptionResult::NotMine:
        rest.push_back(arg);
        break;
      case TOptionResult::Bad:
        return false;
    }
  }
  return true;
}

bool ApplyTransportEnvironment(TStartupOptions& options, std::string& error) {
  if (options.transportGiven) return true;
  const char* value = std::getenv(kTransportEnv);
  if (value == nullptr || *value == '\0') return true;
  const TTransportChoice choice = ParseTransportName(value);
  if (!choice.ok) {
    error = std::string(kTransportEnv) + ": " + choice.error;
    return false;
  }
  options.aspi = choice.kind == TTransportKind::Aspi;
  return true;
}

std::string StartupOptionsHelp() {
  // Profile names, wrapped under the option's description.
  const std::string indent(16, ' ');
  std::string names = indent + "profiles:";
  size_t lineStart = 0;
  for (size_t i = 0; i < ProfileNames().size(); ++i) {
    const std::string word = " " + ProfileNames()[i] + (i + 1 < ProfileNames().size() ? "," : "");
    if (names.size() - lineStart + word.size() > 78) {
      names += "\n" + indent + word.substr(1);
      lineStart = names.size() - indent.size() - word.size() + 1;
    } else {
      names += word;
    }
  }
  return "  --emulate[=PROFILE[@FILE][,PROFILE[@FILE]...]]\n"
         "                attach virtual drives instead of real ones (default profile\n"
         "                \"default\"; the computer is never restarted); PROFILE@FILE\n"
         "                keeps that drive's memory and revision in FILE between runs\n" +
         names +
         "\n"
         "  --transport=NAME, --transport NAME\n"
         "                how drives are reached: passthrough (SG_IO on /dev/srN, the\n"
         "                default; also pass-through, sptd, sg_io) or aspi (the sg driver\n"
         "                on /dev/sgN; also sg); TAVOFLASH_TRANSPORT=NAME does the same\n"
         "  --log=FILE, --log FILE\n"
         "                write the run's log to FILE as well (every run is also logged\n"
         "                under $XDG_STATE_HOME/tavoflash, default ~/.local/state/tavoflash)\n"

         "  --emulate=replay:FILE\n"
         "                attach one virtual drive that answers from a recording made\n"
         "                with --record (on the recording's transport)\n"
         "  --record=FILE, --record FILE\n"
         "                write every command sent to the drives and every reply to FILE\n"
         "                (JSON lines); an existing FILE is kept unless\n"
         "                --record-overwrite is given\n"
         "  --no-backup   do not read the drive's firmware into a backup before the\n"
         "                first command that writes (kept in\n"
         "                $XDG_STATE_HOME/tavoflash/backups otherwise)\n";
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine line;
  std::vector<std::string> rest;
  if (!ParseStartupArgs(args, line.options, rest, line.error)) return line;
  for (std::string& arg : rest) {
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else {
      line.rest.push_back(std::move(arg));
    }
  }
  // Help and version need no transport: a bad TAVOFLASH_TRANSPORT must not stop them.
  if (!line.help && !line.version) ApplyTransportEnvironment(line.options, line.error);
  return line;
}

}  // namespace tavo
