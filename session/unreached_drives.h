// The matching drives pass-through discovery found but did not reach (it counts at most
// four), named for the user with the way to reach them, in the words every mode uses
// (--list, --check, --drive all, the window's log).
#pragma once

#include <string>
#include <vector>

#include "drive/atapi.h"

namespace tavo {

// One line per uncounted drive whose identity is the image's ("Not reached: TAVO    QRD-1040C
// 1.05  /dev/sr4 (...)"), then one line that points to --transport aspi; none when every
// matching drive was reached.
std::vector<std::string> UnreachedDriveLines(const TAtapi& atapi, const std::string& imageIdentity);

}  // namespace tavo
