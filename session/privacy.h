// Replacing what identifies the user or the machine before anything leaves it (the support
// report): user names, home folders, host names, machine ids. Each value gets a
// placeholder that stays the same throughout one scrubber ("<user-1>", "<home-1>",
// "<host-1>", "<machine-id-1>"), so the text still reads coherently.
#pragma once

#include <string>
#include <vector>

#include "platform/system_facts.h"

namespace tavo {

class TPrivacyScrubber {
 public:
  explicit TPrivacyScrubber(const TPrivateValues& values);

  // text with every private value replaced. Home folders are replaced wherever they begin
  // a path (not inside a longer name: /home/al is not replaced in /home/alice); user
  // names, host names and machine ids only as whole words (not inside a longer word or a
  // run of hex digits); host names in any case.
  std::string Scrub(const std::string& text) const;

 private:
  struct TRule {
    std::string value;
    std::string placeholder;
    bool path = false;        // a home folder: only the character after it must not be a name's
    bool ignoreCase = false;  // host names
  };
  void Add(const std::vector<std::string>& values, const std::string& kind, bool path,
           bool ignoreCase);
  bool MatchesAt(const TRule& rule, const std::string& text, size_t at) const;

  std::vector<TRule> rules_;  // longest value first, so a home folder wins over a user name
};

}  // namespace tavo
