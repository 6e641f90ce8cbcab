#include "session/emulate_option.h"

#include <algorithm>

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
    choice.files.emplace_back();
    return choice;
  }
  static const std::string kReplay = "replay:";
  if (value->rfind(kReplay, 0) == 0) {
    choice.replayFile = value->substr(kReplay.size());
    if (choice.replayFile.empty()) choice.error = "--emulate=replay: needs a recording file";
    return choice;
  }
  const auto refuse = [&choice](std::string why) {
    choice.profiles.clear();
    choice.files.clear();
    choice.error = "--emulate: " + std::move(why);
    return choice;
  };
  size_t start = 0;
  while (true) {
    const size_t comma = value->find(',', start);
    const std::string item =
        value->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t at = item.find('@');
    const std::string name = item.substr(0, at);
    const std::string file = at == std::string::npos ? std::string() : item.substr(at + 1);
    if (name.empty()) return refuse("empty profile name; known profiles: " + KnownList());
    if (!FindProfile(name)) {
      return refuse("unknown profile \"" + name + "\"; known profiles: " + KnownList());
    }
    if (at != std::string::npos && file.empty()) {
      return refuse(name + "@ needs the file that keeps the drive: " + name + "@FILE");
    }
    if (!file.empty() &&
        std::find(choice.files.begin(), choice.files.end(), file) != choice.files.end()) {
      return refuse("the file " + file + " is named for two drives; give each its own");
    }
    choice.profiles.push_back(name);
    choice.files.push_back(file);
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
