#include "session/drive_report.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "drive/printable_text.h"
#include "session/revision_policy.h"
#include "session/run_outcome.h"

namespace tavo {

namespace {

constexpr size_t kVendorLength = 8;
constexpr size_t kIdentityLength = 24;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// A table field up to its first zero byte, made printable since it comes from the drive.
std::string Field(const char* field, size_t max) {
  return PrintableText(std::string_view(field, strnlen(field, max)));
}

int ItemRow(const TFlashState& state, int item) {
  if (item < 0 || item >= static_cast<int>(state.items.size()) || item >= kDriveMapSlots) {
    return -1;
  }
  const int row = state.driveMap[item];
  return row >= 0 && row < kDriveTableRows ? row : -1;
}

// Table row r as a found drive (not yet placed in the list).
TFoundDrive RowDrive(const TAtapi& atapi, int r) {
  const DriveEntry& row = atapi.Drive(r);
  // Split where the drive put the fields, then made printable.
  const std::string identity(row.Identity, strnlen(row.Identity, kIdentityLength));
  const std::string name = atapi.DeviceName(r);
  TFoundDrive drive;
  drive.node = Field(name.c_str(), name.size());
  drive.vendor =
      Trimmed(PrintableText(identity.substr(0, std::min(kVendorLength, identity.size()))));
  drive.product =
      identity.size() > kVendorLength ? Trimmed(PrintableText(identity.substr(kVendorLength))) : "";
  drive.revision = Trimmed(Field(row.Revision, sizeof row.Revision));
  return drive;
}

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
    const TFoundDrive drive = RowDrive(atapi, r);
    lines.push_back("  " + (drive.node.empty() ? std::string("(unknown device)") : drive.node) +
                    ": vendor " + drive.vendor + ", product " + drive.product + ", revision " +
                    drive.revision);
  }
  if (atapi.AccessRefused()) lines.push_back("Access to another drive was refused.");
  return lines;
}

}  // namespace

std::vector<TFoundDrive> FoundDrives(const TAtapi& atapi, const TFlashState& state,
                                     const std::string& imageIdentity) {
  std::vector<TFoundDrive> drives;
  const int count = std::clamp(atapi.DriveCount(), 0, kDriveTableRows);
  const std::string model =
      imageIdentity.substr(0, std::min(kIdentityLength, imageIdentity.size()));
  for (int r = 0; r < count; ++r) {
    TFoundDrive drive = RowDrive(atapi, r);
    for (int i = 0; i < static_cast<int>(state.items.size()) && i < kDriveMapSlots; ++i) {
      if (state.driveMap[i] == r) drive.listIndex = i;
    }
    if (drive.listIndex >= 0) {
      drives.push_back(std::move(drive));
      continue;
    }
    if (model.empty()) {
      drive.whyNot = "the image names no drive model";
    } else if (Field(atapi.Drive(r).Identity, kIdentityLength) != model) {
      drive.whyNot = "not a " + Trimmed(model.substr(0, kVendorLength)) + " " +
                     Trimmed(model.size() > kVendorLength ? model.substr(kVendorLength) : "");
    } else if (state.header.IdentityCheckFlag == 0x10 &&
               std::find(state.familyRows.begin(), state.familyRows.end(), r) ==
                   state.familyRows.end()) {
      drive.whyNot = "the right model of another hardware family";
    } else {
      drive.whyNot = "the list holds at most ten drives";
    }
    drives.push_back(std::move(drive));
  }
  return drives;
}

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
  if (const int row = ItemRow(state, state.selectedItem); row >= 0) {
    const TFoundDrive drive = RowDrive(atapi, row);
    target.device = drive.node;
    target.model = drive.product.empty() ? drive.vendor : drive.vendor + " " + drive.product;
    // What the list shows: after a verified run, the revision the drive reported then (the
    // drive table keeps what the search for drives found).
    const std::string shown = Trimmed(ItemRevision(state.SelectedItemText()));
    target.fromRevision = shown.empty() ? drive.revision : shown;
  }
  target.toRevision = ImageRevision(state.edit1);
  return target;
}

std::string TargetText(const TFlashTarget& target) {
  return "drive [" + std::to_string(target.item) + "] " +
         (target.device.empty() ? std::string("(unknown device)") : target.device) + " (" +
         target.model + ") from " + target.fromRevision + " to " + target.toRevision +
         RevisionChangeNote(CompareRevisions(target.fromRevision, target.toRevision));
}

}  // namespace tavo
