// What the files of TFlashEngine share: the working-buffer size, the identity width, the
// special model, and the printf-style log formatting. Private to flash/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavo::engine {

inline constexpr size_t kWorkBufferSize = 65536;
inline constexpr int kIdentityLength = 24;

inline constexpr char kSpecialModel[] = "QRD-1040C";  // nine characters
inline constexpr size_t kSpecialModelLength = 9;

// A log text formatted printf-style (at most 255 characters).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A drive-table text field as a string: up to its first zero byte, at most max characters.
std::string FieldText(const char* field, size_t max);

}  // namespace tavo::engine
