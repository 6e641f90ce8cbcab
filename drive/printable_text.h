// Text that came from a drive or a recording, made safe to show: every byte outside
// printable ASCII (control bytes such as ESC, DEL, and anything above 0x7E) becomes "\xNN",
// so that a drive can never move the cursor, clear the screen or forge a line on a terminal,
// in a log or in the window. Printable text is returned as it is.
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
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    }
  }
  return out;
}

}  // namespace tavo
