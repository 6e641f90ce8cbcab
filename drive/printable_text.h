// Text that came from a drive or a recording, made safe to show: every byte outside
// printable ASCII (control bytes such as ESC, DEL, and anything above 0x7E) becomes "\xNN"
// and a backslash "\\", so that a drive can never move the cursor, clear the screen or
// forge a line on a terminal, in a log or in the window. Other printable text is returned as
// it is. DriveBytes undoes it where the exact bytes are kept (JSON, which escapes them its
// own way).
#pragma once

#include <string>
#include <string_view>

namespace tavo {

inline std::string PrintableText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    }
  }
  return out;
}

// The bytes PrintableText was given, from its result.
inline std::string DriveBytes(std::string_view text) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
               hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0) {
      out += static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tavo
