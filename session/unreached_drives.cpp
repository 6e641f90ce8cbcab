#include "session/unreached_drives.h"

#include <algorithm>

#include "drive/printable_text.h"

namespace tavo {

namespace {

constexpr size_t kIdentityLength = 24;

}  // namespace

std::vector<std::string> UnreachedDriveLines(const TAtapi& atapi,
                                             const std::string& imageIdentity) {
  std::vector<std::string> lines;
  if (imageIdentity.empty()) return lines;
  const std::string model =
      imageIdentity.substr(0, std::min(kIdentityLength, imageIdentity.size()));
  for (const TUnreachedDrive& drive : atapi.UnreachedDrives()) {
    // The list's own rule: the identity as the list shows it, against the image's.
    const std::string identity = PrintableText(drive.identity);
    if (identity.substr(0, kIdentityLength) != model) continue;
    lines.push_back("Not reached: " + identity + " " + PrintableText(drive.revision) + "  " +
                    PrintableText(drive.device) + " (this transport reaches four drives)");
  }
  if (!lines.empty()) {
    lines.emplace_back("Start again with --transport aspi to reach every drive.");
  }
  return lines;
}

}  // namespace tavo
