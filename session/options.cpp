#include "session/options.h"

#include <cstdlib>
#include <utility>

#include "emulator/profiles.h"
#include "session/emulate_option.h"
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
    error = "--transport needs a value: --transport=aspi or --transport=passthrough";
    return TOptionResult::Bad;
  }
  return TOptionResult::NotMine;
}

bool ParseStartupArgs(const std::vector<std::string>& args, TStartupOptions& options,
                      std::vector<std::string>& rest, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--record" && i + 1 < args.size()) {
      options.recordFile = args[++i];
      continue;
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

void ApplyTransportEnvironment(TStartupOptions& options) {
  if (options.transportGiven) return;
  const char* value = std::getenv(kTransportEnv);
  if (value == nullptr || *value == '\0') return;
  const TTransportChoice choice = ParseTransportName(value);
  if (choice.ok) options.aspi = choice.kind == TTransportKind::Aspi;
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
  return "  --emulate[=PROFILE[,PROFILE...]]\n"
         "                attach virtual drives instead of real ones (default profile\n"
         "                \"default\"; the computer is never restarted)\n" +
         names +
         "\n"
         "  --emulate=replay:FILE\n"
         "                attach one virtual drive that answers from a recording made\n"
         "                with --record (on the recording's transport)\n"
         "  --transport=aspi\n"
         "                use the sg driver instead of SG_IO on /dev/srN (also\n"
         "                TAVOFLASH_TRANSPORT=aspi)\n"
         "  --record FILE write every command sent to the drives and every reply to FILE\n"
         "                (JSON lines); an existing FILE is kept unless\n"
         "                --record-overwrite is given\n";
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
  ApplyTransportEnvironment(line.options);
  return line;
}

}  // namespace tavo
