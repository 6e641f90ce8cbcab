#include "tests/support/flash_fixture.h"

namespace tavo::test {

TTestImage PackImage(pack::TPackInput input) {
  TTestImage out;
  std::string error;
  if (!pack::PackContainer(input, out.bytes, error)) {
    ADD_FAILURE() << "packing the test image failed: " << error;
  }
  out.image = std::make_unique<TFirmwareImage>(std::span<const uint8_t>(out.bytes));
  return out;
}

void PutTemplate(std::vector<uint8_t>& bank, size_t offset, const std::string& identity,
                 uint8_t additionalLength, uint8_t family0, uint8_t family1) {
  bank[offset + 0] = 0x05;
  bank[offset + 1] = 0x80;
  bank[offset + 2] = 0x00;
  bank[offset + 3] = 0x02;
  bank[offset + 4] = additionalLength;
  for (size_t i = 0; i < 28; ++i) {
    bank[offset + 8 + i] = i < identity.size() ? static_cast<uint8_t>(identity[i]) : 0;
  }
  bank[offset + 38] = family0;
  bank[offset + 39] = family1;
}

void PutUtf16(std::vector<uint8_t>& bank, size_t offset, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    bank[offset + 2 * i] = static_cast<uint8_t>(text[i]);
    bank[offset + 2 * i + 1] = 0;
  }
}

}  // namespace tavo::test
