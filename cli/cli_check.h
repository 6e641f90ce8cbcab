// tavoflash-cli --check: one verdict line per discovered drive on standard output, from
// reading commands only (flash/drive_check.h).
//
// Exit codes: 0 every matching drive would get past the checks, 1 a matching drive would
// be stopped (or the image stops every run), 2 no drive matches the image.
#pragma once

#include <cstdio>
#include <string>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "image/firmware_image.h"

namespace tavo {

// logPath: --log FILE, which gets the same lines (empty: none). onlyItem / onlyDevice
// (--drive N / --drive DEVICE): only that drive is checked, and the exit status is its own;
// 2 when it is not found.
int RunCheck(TAtapi& atapi, const TFirmwareImage& image, TClock& clock, std::FILE* out = stdout,
             const std::string& logPath = {}, int onlyItem = -1,
             const std::string& onlyDevice = {});

}  // namespace tavo
