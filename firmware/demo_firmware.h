// The demo firmware the program carries: eight plain banks generated deterministically.
// Bank 0 holds the INQUIRY template that names the target drive and the "Tavonix Design"
// marker; the rest is firmware-like filler, with a checksum pad that makes the plain byte
// sum come out at the header checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/identity_format.h"

namespace tavo::demo {

inline constexpr uint8_t kIdentityCheckFlag = 0x20;
inline constexpr uint8_t kScrambleFlag = 0x01;
inline constexpr uint16_t kChecksum = 0xA8B4;
inline constexpr std::array<uint16_t, 8> kBankLengths = {0xBEF0, 0x24E0, 0xACF0, 0xB120,
                                                         0x2B00, 0x2190, 0x9170, 0xFC80};

// Where bank 0 holds the INQUIRY template and the UTF-16LE design marker (odd on purpose).
inline constexpr size_t kTemplateOffset = 0x0A40;
inline constexpr size_t kDesignMarkerOffset = 0x1C31;

inline constexpr std::string_view kVendor = "TAVO    ";              // 8
inline constexpr std::string_view kProduct = "QRD-1040C       ";     // 16
inline constexpr std::string_view kRevision = "1.08";                // 4
inline constexpr std::array<uint8_t, 2> kFamilyCode = {0x54, 0x37};  // "T7"
inline constexpr std::string_view kDesignMarker = "Tavonix Design";
inline constexpr std::string_view kOddMarker = "Tavonix ODD";

// The plain banks, kBankLengths[n] bytes each.
std::vector<std::vector<uint8_t>> DemoBanks();

// The searches the program itself uses on the image.
using tavo::FindInquiryTemplate;
using tavo::FindUtf16Le;

// Bank 0 as the identity extraction sees it: packed with the packer's seed byte, staged into
// a zeroed 64 KiB buffer and descrambled over the whole buffer.
std::vector<uint8_t> DescrambledBank0Buffer(const std::vector<uint8_t>& plainBank0);

// Checks every property the demo promises. Empty when all hold, else the first failure.
std::string VerifyDemoBanks(const std::vector<std::vector<uint8_t>>& banks);

}  // namespace tavo::demo
