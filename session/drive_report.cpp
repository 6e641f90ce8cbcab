#include "session/drive_report.h"

#include <algorithm>
#include <cstring>

#include "session/run_outcome.h"

namespace tavo {

namespace {

constexpr size_t kVendorLength = 8;
constexpr size_t kIdentityLength = 24;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// A table field up to its first zero byte; bytes outside printable ASCII shown as '?' since
// they come from the drive.
std::string Field(const char* field, size_t max) {
  std::string text(field, strnlen(field, max));
  for (char& c : text) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return text;
}

int ItemRow(const TFlashState& state, int item) {
  if (item < 0 || item >= static_cast<int>(state.items.size()) || item >= kDriveMapSlots) {
    return -1;
  }
  const int row = state.driveMap[item];
  return row >= 0 && row < kDriveTableRows ? row : -1;
}

std::vector<std::string> DriveReasons(const TAtapi& atapi, const std::string& imageIdentity);

}  // namespace

std::string ItemDevice(const TAtapi& atapi, const TFlashState& state, int item) {
  const int row = ItemRow(state, item);
  if (row < 0) return {};
  const std::string name = atapi.DeviceName(row);
  return Field(name.c_str(), name.size());
}

int ItemAtDevice(const TAtapi& atapi, const TFlashState& state, const std::string& path) {
  for (int i = 0; i < static_cast<int>(state.items.size()); ++i) {
    if (!path.empty() && ItemDevice(atapi, state, i) == path) return i;
  }
  return -1;
}

std::vector<std::string> NoDriveReasons(const TAtapi& atapi, const std::string& imageIdentity,
                                        const std::string& program) {
  std::vector<std::string> lines = DriveReasons(atapi, imageIdentity);
  if (!program.empty()) {
    lines.push_back("To try " + program + " without such a drive: " + program + " --emulate");
  }
  return lines;
}

TFlashTarget SelectedTarget(const TAtapi& atapi, const TFlashState& state) {
  TFlashTarget target;
  target.item = state.selectedItem;
  target.device = ItemDevice(atapi, state, state.selectedItem);
  const int row = ItemRow(state, state.selectedItem);
  if (row >= 0) {
    const DriveEntry& entry = atapi.Drive(row);
    const std::string identity = Field(entry.Identity, kIdentityLength);
    target.model = Trimmed(identity.substr(0, std::min(kVendorLength, identity.size())));
    if (identity.size() > kVendorLength)
      target.model += " " + Trimmed(identity.substr(kVendorLength));
    target.fromRevision = Trimmed(Field(entry.Revision, sizeof entry.Revision));
  }
  target.toRevision = ImageRevision(state.edit1);
  return target;
}

std::string TargetText(const TFlashTarget& target) {
  return "drive [" + std::to_string(target.item) + "] " +
         (target.device.empty() ? std::string("(unknown device)") : target.device) + " (" +
         target.model + ") from " + target.fromRevision + " to " + target.toRevision;
}

namespace {

std::vector<std::string> DriveReasons(const TAtapi& atapi, const std::string& imageIdentity) {
  const int count = std::clamp(atapi.DriveCount(), 0, kDriveTableRows);
  if (count == 0) {
    if (atapi.AccessRefused()) {
      return {
          "No optical drive could be examined: access to a drive was refused (see the "
          "access message)."};
    }
    return {"No optical drive was found on this computer."};
  }
  std::vector<std::string> lines;
  lines.push_back("None of the optical drives found is a " +
                  Trimmed(imageIdentity.substr(0, kIdentityLength)) + ":");
  for (int r = 0; r < count; ++r) {
    const DriveEntry& row = atapi.Drive(r);
    const std::string identity = Field(row.Identity, kIdentityLength);
    const std::string vendor =
        Trimmed(identity.substr(0, std::min(kVendorLength, identity.size())));
    const std::string product =
        identity.size() > kVendorLength ? Trimmed(identity.substr(kVendorLength)) : "";
    const std::string name = atapi.DeviceName(r);
    const std::string device = Field(name.c_str(), name.size());
    lines.push_back("  " + (device.empty() ? std::string("(unknown device)") : device) +
                    ": vendor " + vendor + ", product " + product + ", revision " +
                    Trimmed(Field(row.Revision, sizeof row.Revision)));
  }
  if (atapi.AccessRefused()) lines.push_back("Access to another drive was refused.");
  return lines;
}

}  // namespace

}  // namespace tavo
