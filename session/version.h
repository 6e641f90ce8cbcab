// What --version prints in both front ends: the program's name and version, and the
// identity and checksum of the firmware image it carries.
#pragma once

#include <string>

#include "image/firmware_image.h"

namespace tavo {

// The project version from the build, e.g. "1.01".
const char* ProgramVersion();

// Two lines, e.g.
//   tavoflash-cli 1.01
//   firmware image: TAVO    QRD-1040C       1.08, checksum 1234h, 8 banks
// An image that fails its check, or has no identity, says so in the second line.
// The image part of the version text without its line end, e.g.
//   TAVO    QRD-1040C       1.08, checksum 1234h, 8 banks
std::string ImageDescription(const TFirmwareImage& image);

// The identity of the image's INQUIRY template ("TAVO    QRD-1040C       1.08"); empty when
// bank 0 holds none or the image fails its check.
std::string ImageIdentity(const TFirmwareImage& image);

std::string VersionText(const std::string& program, const TFirmwareImage& image);

}  // namespace tavo
