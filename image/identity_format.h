// How an image names the drive it is built for: an INQUIRY-shaped template in bank 0, and
// design marker texts stored as UTF-16LE. The program searches for them, the demo firmware
// generator places them and the virtual drive reads its own firmware the same way, so the
// rules live here once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tavo {

// Template bytes that must lie inside the buffer for a position to be considered (the
// FamilyCode sits in bytes 38 and 39).
inline constexpr size_t kInquiryTemplateBytes = 40;

// True when the buffer holds an INQUIRY template at p: 05h 80h 00h, any byte, then 1Fh or
// 5Bh. False for a position whose 40 template bytes do not all lie inside the buffer.
bool IsInquiryTemplateAt(std::span<const uint8_t> buffer, size_t p);

// The lowest position at which IsInquiryTemplateAt holds.
std::optional<size_t> FindInquiryTemplate(std::span<const uint8_t> buffer);

// text as UTF-16LE: every character's code byte followed by a zero byte.
std::vector<uint8_t> Utf16Le(std::string_view text);

// The lowest position at which buffer holds text in UTF-16LE (any position, odd ones too).
std::optional<size_t> FindUtf16Le(std::span<const uint8_t> buffer, std::string_view text);

}  // namespace tavo
