// Drive and image identities and the procedure's log lines are raw bytes: the window shows
// them byte for byte (Latin-1), never decoded as UTF-8.
#pragma once

#include <QString>
#include <string>

namespace tavo {

inline QString RawText(const std::string& s) {
  return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

}  // namespace tavo
