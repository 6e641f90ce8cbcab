#include "emulator/profiles.h"

#include <functional>
#include <utility>

namespace tavo {
namespace {

TDriveProfile Default() {
  TDriveProfile p;
  p.name = "default";
  // Bank 0, offset 0400h, 384 bytes: the older firmware there differs from any image.
  p.patchDescriptor = std::array<uint8_t, 9>{0x55, 0xDD, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01, 0x80};
  return p;
}

using TMaker = std::function<TDriveProfile()>;

const std::vector<std::pair<std::string, TMaker>>& Makers() {
  static const std::vector<std::pair<std::string, TMaker>> makers = {
      {"default", [] { return Default(); }},
      {"normal-mode",
       [] {
         TDriveProfile p = Default();
         p.capsByte3 = 0x13;  // DVD-R write as well: normal download mode
         return p;
       }},
      {"commit-illegal",
       [] {
         TDriveProfile p = Default();
         p.commitMode4 = {false, scsi::kSenseInvalidFieldInCdb};
         p.commitMode5F0 = {false, scsi::kSenseInvalidFieldInCdb};
         return p;
       }},
      {"commit-paramlen",
       [] {
         TDriveProfile p = Default();
         p.commitMode4 = {false, scsi::kSenseInvalidFieldInCdb};
         p.commitMode5E0 = {false, scsi::kSenseParameterListLength};
         return p;
       }},
      {"commit-unit-attention",
       [] {
         TDriveProfile p = Default();
         p.commitMode4 = {false, scsi::kSensePowerOnReset};
         p.commitMode5E0 = {false, scsi::kSensePowerOnReset};
         p.commitMode5F0 = {false, scsi::kSensePowerOnReset};
         return p;
       }},
      {"never-ready",
       [] {
         TDriveProfile p = Default();
         p.ready = TReadyBehaviour::NeverReady;
         return p;
       }},
      {"no-medium",
       [] {
         TDriveProfile p = Default();
         p.ready = TReadyBehaviour::EmptyAfterProgramming;
         return p;
       }},
      {"legacy-unlisted",
       [] {
         TDriveProfile p = Default();
         p.product = "QRD-1370C       ";
         return p;
       }},
      {"other-family",
       [] {
         TDriveProfile p = Default();
         p.family = {0x4B, 0x32};  // "K2"
         return p;
       }},
      {"no-marker",
       [] {
         TDriveProfile p = Default();
         p.marker.clear();
         return p;
       }},
      {"bad-verify",
       [] {
         TDriveProfile p = Default();
         p.corruptProgramming = true;
         return p;
       }},
      {"unsupported",
       [] {
         TDriveProfile p = Default();
         p.refuseDownload = true;
         return p;
       }},
      {"bank4-refused",
       [] {
         TDriveProfile p = Default();
         p.refuseDownload = true;
         p.refuseDownloadFrom = 3;  // banks 1 to 3 are taken, bank 4 is refused
         return p;
       }},
      {"download-illegal",
       [] {
         // A device of the right model that is no drive of this kind: no patch region, the
         // first bank download refused as an illegal request, no flash-status command.
         TDriveProfile p = Default();
         p.patchDescriptor.reset();
         p.refuseDownload = true;
         p.downloadRefusal = scsi::kSenseInvalidFieldInCdb;
         p.refuseFlashStatus = true;
         return p;
       }},
      {"lenient",
       [] {
         TDriveProfile p = Default();
         p.lenient = true;
         return p;
       }},
      {"current",
       [] {
         TDriveProfile p = Default();
         p.revision = "1.08";  // already runs the embedded image's revision
         return p;
       }},
      {"newer",
       [] {
         TDriveProfile p = Default();
         p.revision = "1.10";  // runs a newer revision than the embedded image's
         return p;
       }},
      {"unstable-read",
       [] {
         TDriveProfile p = Default();
         p.unstableReads = true;
         return p;
       }},
  };
  return makers;
}

}  // namespace

std::optional<TDriveProfile> FindProfile(const std::string& name) {
  for (const auto& [known, make] : Makers()) {
    if (known == name) {
      TDriveProfile p = make();
      p.name = known;
      return p;
    }
  }
  return std::nullopt;
}

const std::vector<std::string>& ProfileNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const auto& entry : Makers()) out.push_back(entry.first);
    return out;
  }();
  return names;
}

}  // namespace tavo
