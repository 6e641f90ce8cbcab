#include "session/revision_policy.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace tavo {
namespace {

std::string WithoutEdgeBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The numbers of a dotted revision as written ("1.05" -> "1", "05"); no value when the
// text is anything else (empty numbers included).
std::optional<std::vector<std::string>> DottedNumbers(const std::string& text) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == '.') {
      if (parts.back().empty()) return std::nullopt;
      parts.emplace_back();
    } else if (c >= '0' && c <= '9') {
      parts.back() += c;
    } else {
      return std::nullopt;
    }
  }
  if (parts.back().empty()) return std::nullopt;
  return parts;
}

// Compares two numbers written in digits by value, however long: -1, 0 or 1.
int CompareValues(const std::string& a, const std::string& b) {
  const auto significant = [](const std::string& s) {
    const size_t first = s.find_first_not_of('0');
    return first == std::string::npos ? std::string() : s.substr(first);
  };
  const std::string x = significant(a);
  const std::string y = significant(b);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  return x == y ? 0 : (x < y ? -1 : 1);
}

}  // namespace

TRevisionChange CompareRevisions(const std::string& drive, const std::string& image) {
  const std::string from = WithoutEdgeBlanks(drive);
  const std::string to = WithoutEdgeBlanks(image);
  if (!from.empty() && from == to) return TRevisionChange::Same;
  const auto a = DottedNumbers(from);
  const auto b = DottedNumbers(to);
  if (!a || !b) return TRevisionChange::Unknown;
  const size_t count = std::max(a->size(), b->size());
  for (size_t i = 0; i < count; ++i) {
    const std::string x = i < a->size() ? (*a)[i] : "0";
    const std::string y = i < b->size() ? (*b)[i] : "0";
    const int order = CompareValues(x, y);
    if (i > 0) {
      // Read as decimal digits too ("5" as "50" against "05"): the readings must agree.
      std::string dx = x;
      std::string dy = y;
      dx.resize(std::max(x.size(), y.size()), '0');
      dy.resize(dx.size(), '0');
      const int decimal = dx == dy ? 0 : (dx < dy ? -1 : 1);
      if (decimal != order) return TRevisionChange::Unknown;
    }
    if (order < 0) return TRevisionChange::Newer;
    if (order > 0) return TRevisionChange::Older;
  }
  return TRevisionChange::Same;
}

std::string RevisionChangeNote(TRevisionChange change) {
  switch (change) {
    case TRevisionChange::Older:
      return " (an older revision: a downgrade)";
    case TRevisionChange::Same:
      return " (the same revision: reinstall)";
    case TRevisionChange::Unknown:
      return " (cannot tell which is newer)";
    case TRevisionChange::Newer:
      break;
  }
  return {};
}

TRevisionVerdict DecideRevision(const std::string& drive, const std::string& image,
                                const TRevisionPolicy& policy) {
  if (policy.restore) return TRevisionVerdict::Write;
  const TRevisionChange change = CompareRevisions(drive, image);
  if (policy.ifNeeded && change == TRevisionChange::Same) return TRevisionVerdict::LeaveSame;
  if (policy.ifNeeded && change == TRevisionChange::Older) return TRevisionVerdict::LeaveNewer;
  if (change == TRevisionChange::Older && policy.unattended && !policy.allowOlder) {
    return TRevisionVerdict::RefuseOlder;
  }
  return TRevisionVerdict::Write;
}

}  // namespace tavo
