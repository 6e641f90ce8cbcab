#include "session/emulate_option.h"

#include "emulator/profiles.h"

namespace tavo {
namespace {

std::string KnownList() {
  std::string out;
  for (const std::string& name : ProfileNames()) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

}  // namespace

TEmulateChoice ParseEmulateOption(const std::optional<std::string>& value) {
  TEmulateChoice choice;
  if (!value) {
    choice.profiles.push_back("default");
    return choice;
  }
  static const std::string kReplay = "replay:";
  if (value->rfind(kReplay, 0) == 0) {
    choice.replayFile = value->substr(kReplay.size());
    if (choice.replayFile.empty()) choice.error = "--emulate=replay: needs a recording file";
    return choice;
  }
  size_t start = 0;
  while (true) {
    const size_t comma = value->find(',', start);
    const std::string name =
        value->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (name.empty()) {
      choice.profiles.clear();
      choice.error = "--emulate: empty profile name; known profiles: " + KnownList();
      return choice;
    }
    if (!FindProfile(name)) {
      choice.profiles.clear();
      choice.error = "--emulate: unknown profile \"" + name + "\"; known profiles: " + KnownList();
      return choice;
    }
    choice.profiles.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return choice;
}

std::optional<TEmulateChoice> MatchEmulateArgument(const std::string& arg) {
  static const std::string kOption = "--emulate";
  if (arg == kOption) return ParseEmulateOption(std::nullopt);
  if (arg.rfind(kOption + "=", 0) == 0) {
    return ParseEmulateOption(arg.substr(kOption.size() + 1));
  }
  return std::nullopt;
}

}  // namespace tavo
