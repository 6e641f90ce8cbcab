#include "image/identity_format.h"

#include <algorithm>

namespace tavo {

bool IsInquiryTemplateAt(std::span<const uint8_t> b, size_t p) {
  if (p > b.size() || b.size() - p < kInquiryTemplateBytes) return false;
  return b[p] == 0x05 && b[p + 1] == 0x80 && b[p + 2] == 0x00 &&
         (b[p + 4] == 0x1F || b[p + 4] == 0x5B);
}

std::optional<size_t> FindInquiryTemplate(std::span<const uint8_t> buffer) {
  for (size_t p = 0; p + kInquiryTemplateBytes <= buffer.size(); ++p) {
    if (IsInquiryTemplateAt(buffer, p)) return p;
  }
  return std::nullopt;
}

std::vector<uint8_t> Utf16Le(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

std::optional<size_t> FindUtf16Le(std::span<const uint8_t> buffer, std::string_view text) {
  const std::vector<uint8_t> marker = Utf16Le(text);
  const auto it = std::search(buffer.begin(), buffer.end(), marker.begin(), marker.end());
  if (it == buffer.end()) return std::nullopt;
  return static_cast<size_t>(it - buffer.begin());
}

}  // namespace tavo
