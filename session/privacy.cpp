#include "session/privacy.h"

#include <algorithm>
#include <cctype>

namespace tavo {

namespace {

// Characters that continue a name: a value next to one of them is part of something else.
bool NameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
}

bool SameChar(char a, char b, bool ignoreCase) {
  if (!ignoreCase) return a == b;
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

TPrivacyScrubber::TPrivacyScrubber(const TPrivateValues& values) {
  Add(values.homes, "home", true, false);
  Add(values.machineIds, "machine-id", false, true);
  Add(values.hosts, "host", false, true);
  Add(values.users, "user", false, false);
  std::stable_sort(rules_.begin(), rules_.end(),
                   [](const TRule& a, const TRule& b) { return a.value.size() > b.value.size(); });
}

void TPrivacyScrubber::Add(const std::vector<std::string>& values, const std::string& kind,
                           bool path, bool ignoreCase) {
  int number = 0;
  for (std::string value : values) {
    // A home folder given with a trailing slash is the same folder; "/" alone is no one's.
    while (path && value.size() > 1 && value.back() == '/') value.pop_back();
    if (value.empty() || (path && value == "/")) continue;
    const bool known = std::any_of(rules_.begin(), rules_.end(),
                                   [&](const TRule& rule) { return rule.value == value; });
    if (known) continue;
    rules_.push_back({value, "<" + kind + "-" + std::to_string(++number) + ">", path, ignoreCase});
  }
}

bool TPrivacyScrubber::MatchesAt(const TRule& rule, const std::string& text, size_t at) const {
  if (text.size() - at < rule.value.size()) return false;
  for (size_t i = 0; i < rule.value.size(); ++i) {
    if (!SameChar(text[at + i], rule.value[i], rule.ignoreCase)) return false;
  }
  // A full stop after a word ends a sentence or begins a domain: the word still counts.
  const size_t end = at + rule.value.size();
  if (end < text.size() && NameChar(text[end]) && (rule.path || text[end] != '.')) return false;
  return rule.path || at == 0 || !NameChar(text[at - 1]);
}

std::string TPrivacyScrubber::Scrub(const std::string& text) const {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  // One pass from left to right: a placeholder once written is never looked at again.
  while (at < text.size()) {
    const TRule* hit = nullptr;
    for (const TRule& rule : rules_) {
      if (MatchesAt(rule, text, at)) {
        hit = &rule;
        break;
      }
    }
    if (hit != nullptr) {
      out += hit->placeholder;
      at += hit->value.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

}  // namespace tavo
