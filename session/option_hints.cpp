#include "session/option_hints.h"

#include <algorithm>

namespace tavo {

namespace {

// Edits (insert, delete, replace, swap of neighbours) between a and b.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

const std::vector<std::string>& StartupOptionNames() {
  static const std::vector<std::string> names = {"--emulate", "--transport",        "--log",
                                                 "--record",  "--record-overwrite", "--no-backup",
                                                 "--help",    "--version"};
  return names;
}

std::string UnknownOptionError(const std::string& arg, const std::vector<std::string>& known) {
  const std::string name = arg.substr(0, arg.find('='));
  std::string best;
  size_t bestDistance = 0;
  for (const std::string& option : known) {
    const size_t distance = Distance(name, option);
    if (best.empty() || distance < bestDistance) {
      best = option;
      bestDistance = distance;
    }
  }
  // Near enough to be a slip of the keyboard, not another word.
  const size_t allowed = std::max<size_t>(2, name.size() / 4);
  if (best.empty() || bestDistance > allowed) return "unknown option " + arg;
  return "unknown option " + arg + " (did you mean " + best + "?)";
}

std::string EmulateSpaceError(const std::string& previous, const std::string& arg) {
  if (previous != "--emulate" || arg.empty() || arg[0] == '-') return {};
  return "--emulate takes its profiles after '=': did you mean --emulate=" + arg + "?";
}

}  // namespace tavo
