// The --emulate[=PROFILE[@FILE][,PROFILE[@FILE]...]] option, parsed in one place for both
// front ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavo {

struct TEmulateChoice {
  std::vector<std::string> profiles;  // one virtual drive per name, in order
  // Beside each profile: the file that keeps that drive between runs ("PROFILE@FILE"), or
  // "" for a drive that starts from its profile every time.
  std::vector<std::string> files;
  std::string replayFile;  // "replay:FILE": the recording to answer from
  std::string error;       // non-empty when the value names an unknown profile
  bool Ok() const { return error.empty(); }
};

// value: the text after "--emulate=", or no value for a bare "--emulate" (one drive of the
// "default" profile). Names are separated by commas; an empty name is an error. A name may
// carry "@FILE": the file that keeps that drive between runs (see session/drive_file.h); a
// file name cannot hold a comma, must not be empty and may serve only one drive.
// "replay:FILE" (alone) names a recording instead of profiles.
TEmulateChoice ParseEmulateOption(const std::optional<std::string>& value);

// Recognises "--emulate" and "--emulate=..." in one argument. No value when arg is another
// option; otherwise the choice it makes.
std::optional<TEmulateChoice> MatchEmulateArgument(const std::string& arg);

}  // namespace tavo
