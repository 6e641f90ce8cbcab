#include "session/version.h"

#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "image/identity_format.h"

namespace tavo {

namespace {

// The identity text of the image's INQUIRY template (the 28 characters from byte 8, up to
// the first zero byte), or nothing when bank 0 holds no template.
std::optional<std::string> TemplateIdentity(const TFirmwareImage& image) {
  const TImageHeader header = image.Header();
  if (header.BankCount == 0) return std::nullopt;
  std::vector<uint8_t> bank(kBankSize);
  image.StageBank(0, bank.data());
  if (header.ScrambleFlag == 0x01) Descramble(bank.data(), kBankSize, 1);
  const std::optional<size_t> at = FindInquiryTemplate(bank);
  if (!at) return std::nullopt;
  std::string identity;
  for (size_t i = 0; i < 28 && bank[*at + 8 + i] != 0; ++i) {
    identity += static_cast<char>(bank[*at + 8 + i]);
  }
  return identity;
}

}  // namespace

const char* ProgramVersion() {
  return TAVO_PROGRAM_VERSION;
}

std::string ImageDescription(const TFirmwareImage& image) {
  if (!image.Valid()) return image.CheckError();
  const std::optional<std::string> identity = TemplateIdentity(image);
  const TImageHeader header = image.Header();
  char tail[64];
  std::snprintf(tail, sizeof tail, ", checksum %04Xh, %u bank%s", unsigned{header.Checksum},
                unsigned{header.BankCount}, header.BankCount == 1 ? "" : "s");
  return (identity ? *identity : std::string("no identity")) + tail;
}

std::string ImageIdentity(const TFirmwareImage& image) {
  if (!image.Valid()) return {};
  return TemplateIdentity(image).value_or(std::string());
}

std::string VersionText(const std::string& program, const TFirmwareImage& image) {
  return program + " " + ProgramVersion() + "\nfirmware image: " + ImageDescription(image) + "\n";
}

}  // namespace tavo
