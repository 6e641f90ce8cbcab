#include "firmware/demo_firmware.h"

#include <algorithm>
#include <cstdio>

#include "image/firmware_image.h"
#include "image/packer.h"
#include "image/scramble_scheme.h"

namespace tavo::demo {

namespace {

constexpr size_t kChecksumPadSize = 0x400;  // at the end of the last bank

// Small deterministic generator (xorshift32); the demo must be identical on every build.
class TFiller {
 public:
  explicit TFiller(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
  uint8_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<uint8_t>(state_ >> 11);
  }

 private:
  uint32_t state_;
};

// Firmware-like filler: mostly random bytes with the occasional run of erased (FFh) or
// zeroed bytes, as tables and alignment gaps look in a real dump.
void FillBank(std::vector<uint8_t>& bank, unsigned n) {
  TFiller rng(0x7A5C0000u + n * 0x01000193u);
  size_t i = 0;
  while (i < bank.size()) {
    const uint8_t r = rng.Next();
    if (r < 4) {
      const size_t run = std::min<size_t>(16 + rng.Next(), bank.size() - i);
      std::fill_n(bank.begin() + static_cast<std::ptrdiff_t>(i), run, r < 2 ? 0xFF : 0x00);
      i += run;
    } else {
      bank[i++] = rng.Next();
    }
  }
  bank[0] = scramble::kSeedOffset;  // descrambling always yields the seed offset here
}

std::vector<uint8_t> InquiryTemplate() {
  std::vector<uint8_t> t = {0x05, 0x80, 0x00, 0x02, 0x1F, 0x00, 0x00, 0x00};
  for (auto field : {kVendor, kProduct, kRevision}) t.insert(t.end(), field.begin(), field.end());
  t.push_back(0x00);
  t.push_back(0x00);
  t.insert(t.end(), kFamilyCode.begin(), kFamilyCode.end());
  return t;  // 40 bytes
}

// Breaks any accidental occurrence of pattern at a position other than keep by bumping a
// byte of it; the bump can never create the pattern earlier than it was.
void BreakAccidental(std::vector<uint8_t>& bank, const std::vector<uint8_t>& pattern,
                     std::optional<size_t> keep) {
  auto it = bank.begin();
  while ((it = std::search(it, bank.end(), pattern.begin(), pattern.end())) != bank.end()) {
    const size_t at = static_cast<size_t>(it - bank.begin());
    if (!keep || at != *keep) bank[at + 2] ^= 0x01;
    ++it;
  }
}

void BreakAccidentalTemplates(std::vector<uint8_t>& bank, size_t keep) {
  for (size_t p = 0; p + kInquiryTemplateBytes <= bank.size(); ++p) {
    if (p != keep && IsInquiryTemplateAt(bank, p)) bank[p + 1] = 0x81;
  }
}

// Raises bytes of the pad at the end of the last bank until the plain sum is kChecksum.
void AdjustChecksum(std::vector<std::vector<uint8_t>>& banks) {
  auto& last = banks.back();
  uint32_t missing = static_cast<uint16_t>(kChecksum - pack::PlainChecksum(banks));
  for (size_t i = last.size() - kChecksumPadSize; i < last.size() && missing > 0; ++i) {
    const uint32_t room = 0xFFu - last[i];
    const uint32_t add = std::min(room, missing);
    last[i] = static_cast<uint8_t>(last[i] + add);
    missing -= add;
  }
}

std::string Hex(size_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%zXh", value);
  return text;
}

}  // namespace

std::vector<std::vector<uint8_t>> DemoBanks() {
  std::vector<std::vector<uint8_t>> banks;
  for (unsigned n = 0; n < kBankLengths.size(); ++n) {
    banks.emplace_back(kBankLengths[n]);
    FillBank(banks.back(), n);
  }
  const std::vector<uint8_t> design = Utf16Le(kDesignMarker);
  const std::vector<uint8_t> odd = Utf16Le(kOddMarker);
  for (auto& bank : banks) {
    BreakAccidental(bank, design, std::nullopt);
    BreakAccidental(bank, odd, std::nullopt);
  }
  auto& bank0 = banks[0];
  const std::vector<uint8_t> tmpl = InquiryTemplate();
  std::copy(tmpl.begin(), tmpl.end(), bank0.begin() + kTemplateOffset);
  std::copy(design.begin(), design.end(), bank0.begin() + kDesignMarkerOffset);
  BreakAccidentalTemplates(bank0, kTemplateOffset);
  AdjustChecksum(banks);
  return banks;
}

std::vector<uint8_t> DescrambledBank0Buffer(const std::vector<uint8_t>& plainBank0) {
  pack::TPackInput input;
  input.Banks = {plainBank0};
  std::vector<uint8_t> container;
  std::string error;
  std::vector<uint8_t> buffer(kBankSize, 0);
  if (!pack::PackContainer(input, container, error)) return buffer;
  TFirmwareImage image(container);
  image.StageBank(0, buffer.data());
  Descramble(buffer.data(), static_cast<uint32_t>(buffer.size()), 1);
  return buffer;
}

std::string VerifyDemoBanks(const std::vector<std::vector<uint8_t>>& banks) {
  if (banks.size() != kBankLengths.size()) return "expected 8 banks";
  for (size_t n = 0; n < banks.size(); ++n) {
    if (banks[n].size() != kBankLengths[n])
      return "bank " + std::to_string(n) + " has the wrong length";
    if (banks[n][0] != scramble::kSeedOffset)
      return "bank " + std::to_string(n) + " does not start with the seed offset";
    if (FindUtf16Le(banks[n], kOddMarker))
      return "\"Tavonix ODD\" found in bank " + std::to_string(n);
    const auto design = FindUtf16Le(banks[n], kDesignMarker);
    if (n != 0 && design) return "\"Tavonix Design\" found in bank " + std::to_string(n);
  }
  const std::vector<uint8_t> buffer = DescrambledBank0Buffer(banks[0]);
  const auto tmpl = FindInquiryTemplate(buffer);
  if (!tmpl || *tmpl != kTemplateOffset) {
    return "the first INQUIRY template is at " + (tmpl ? Hex(*tmpl) : std::string("none")) +
           ", not " + Hex(kTemplateOffset);
  }
  const auto marker = FindUtf16Le(buffer, kDesignMarker);
  if (!marker || *marker != kDesignMarkerOffset) {
    return "the design marker is at " + (marker ? Hex(*marker) : std::string("none")) + ", not " +
           Hex(kDesignMarkerOffset);
  }
  if (FindUtf16Le(buffer, kOddMarker)) return "\"Tavonix ODD\" in descrambled bank 0";
  if (pack::PlainChecksum(banks) != kChecksum) {
    return "plain byte sum is " + Hex(pack::PlainChecksum(banks)) + ", not " + Hex(kChecksum);
  }
  return {};
}

}  // namespace tavo::demo
