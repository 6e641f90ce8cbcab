#include <cstddef>
#include <cstdint>

#include "image/firmware_image.h"

namespace tavo {

namespace detail {
// Defined in the source generated from the container at build time.
extern const size_t kEmbeddedContainerSize;
extern const uint8_t kEmbeddedContainer[];
}  // namespace detail

const TFirmwareImage& EmbeddedImage() {
  static const TFirmwareImage image(
      std::span<const uint8_t>(detail::kEmbeddedContainer, detail::kEmbeddedContainerSize));
  return image;
}

}  // namespace tavo
