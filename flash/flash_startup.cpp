#include <algorithm>
#include <cstring>
#include <span>

#include "drive/printable_text.h"
#include "flash/engine_common.h"
#include "flash/flash_engine.h"
#include "image/identity_format.h"

namespace tavo {

using namespace engine;

const char* const TFlashEngine::kNoticeLines[6] = {
    "Important Notice: ",
    "1. Before flashing, ensure that there is no media in the drive.",
    "2. Do not restart or shut down your system until it prompts you",
    "    to do so.",
    "    Turning off your system in the midst of flashing will damage",
    "    your drive.",
};

// ---------------------------------------------------------------------------------------
// Start-up

void TFlashEngine::CopyHeader() {
  if (!image_->Valid()) {
    // Leave the header copy cleared: no bank is staged, so no identity is found.
    state_.header = TImageHeader{};
    ui_.AddLog(image_->CheckError());
    return;
  }
  state_.header = image_->Header();
}

std::optional<TFlashEngine::TImageIdentity> TFlashEngine::ReadImageIdentity() {
  auto buffer = ObtainBuffer(kWorkBufferSize);
  if (!buffer) {
    ui_.AddLog("Err:Memory allocation");
    return std::nullopt;
  }
  if (!image_->Valid()) return std::nullopt;  // never stage from a container that failed its check
  uint8_t* buf = buffer->data();
  if (state_.header.BankCount > 0) image_->StageBank(0, buf);
  if (state_.header.ScrambleFlag == 0x01) Descramble(buf, kWorkBufferSize, 1);

  const std::span<const uint8_t> bank0(buf, kWorkBufferSize);
  const std::optional<size_t> at = FindInquiryTemplate(bank0);
  if (!at) return std::nullopt;
  const size_t found = *at;

  const char* raw = reinterpret_cast<const char*>(buf + found + 8);
  TImageIdentity id;
  id.identity.assign(raw, strnlen(raw, 28));
  id.familyCode = {buf[found + 38], buf[found + 39]};
  id.designMarker = id.identity.size() >= 8 + kSpecialModelLength &&
                    id.identity.compare(8, kSpecialModelLength, kSpecialModel) == 0 &&
                    FindUtf16Le(bank0, "Tavonix Design");
  return id;
}

void TFlashEngine::BitBtn1Click() {
  const std::optional<TImageIdentity> id = ReadImageIdentity();
  if (!id) return;
  state_.imageFamilyCode = id->familyCode;
  if (state_.header.IdentityCheckFlag == 0x10 && !FindFamilyDrives(id->identity)) return;
  state_.edit1 = id->identity;
  if (id->designMarker) state_.imageHasDesignMarker = 1;
}

void TFlashEngine::UseImage(const TFirmwareImage& image) {
  image_ = &image;
  CopyHeader();
  const std::optional<TImageIdentity> id = ReadImageIdentity();
  state_.edit1 = id ? id->identity : std::string();
  state_.imageFamilyCode = id ? id->familyCode : std::array<uint8_t, 2>{};
  state_.imageHasDesignMarker = id && id->designMarker ? 1 : 0;
}

bool TFlashEngine::RowMatchesIdentity(int32_t row, const std::string& identity) const {
  return DriveItemText(atapi_.Drive(row)).substr(0, kIdentityLength) ==
         identity.substr(0, kIdentityLength);
}

bool TFlashEngine::FindFamilyDrives(const std::string& identity) {
  // Every drive the image names is asked for its family, so the one to be flashed is
  // judged by its own answer whatever row it sits in. The current drive is the first row
  // again afterwards, as discovery left it.
  state_.familyRows.clear();
  const int count = std::clamp(atapi_.DriveCount(), 0, kDriveTableRows);
  for (int32_t r = 0; r < count; ++r) {
    if (!RowMatchesIdentity(r, identity)) continue;
    if (std::find(offLimits_.begin(), offLimits_.end(), r) != offLimits_.end()) {
      state_.familyRows.push_back(r);
      continue;
    }
    atapi_.SelectDrive(r);
    if (DriveHasImageFamily()) state_.familyRows.push_back(r);
  }
  atapi_.SelectDrive(0);
  if (!state_.familyRows.empty()) return true;
  ui_.AddLog("Err:The firmware is not support this device!!(4)");
  return false;
}

std::string TFlashEngine::DriveItemText(const DriveEntry& row) {
  // The list item is where the drive's words enter the program's text (the list, the
  // questions, the logs, the window, JSON): made printable here, once.
  return PrintableText(FieldText(row.Identity, kIdentityLength)) + " " +
         PrintableText(FieldText(row.Revision, sizeof row.Revision));
}

void TFlashEngine::FillDriveList() {
  state_.items.clear();
  state_.driveMap.fill(0);
  const bool familyChecked = state_.header.IdentityCheckFlag == 0x10;
  const int count = std::clamp(atapi_.DriveCount(), 0, kDriveTableRows);
  for (int r = 0; r < count; ++r) {
    if (!RowMatchesIdentity(r, state_.edit1)) continue;
    if (familyChecked && std::find(state_.familyRows.begin(), state_.familyRows.end(), r) ==
                             state_.familyRows.end()) {
      continue;
    }
    std::string text = DriveItemText(atapi_.Drive(r));
    if (state_.items.size() >= static_cast<size_t>(kDriveMapSlots)) break;
    state_.driveMap[state_.items.size()] = r;
    state_.items.push_back(std::move(text));
  }
  state_.selectedItem = state_.items.empty() ? -1 : 0;
}

int32_t TFlashEngine::SelectedRow() const {
  // The item list is the front end's; only the first ten items have a map slot.
  if (state_.SelectedItemText().empty() || state_.selectedItem >= kDriveMapSlots) return -1;
  const int32_t row = state_.driveMap[state_.selectedItem];
  return row >= 0 && row < kDriveTableRows ? row : -1;
}

void TFlashEngine::SelectCurrentItem() {
  const int32_t row = SelectedRow();
  if (row >= 0) atapi_.SelectDrive(row);
}

std::string TFlashEngine::CaptionFor(const std::string& edit1) {
  std::string product;
  for (size_t i = 8; i < edit1.size() && i < kIdentityLength && edit1[i] != ' '; ++i) {
    product += edit1[i];
  }
  return product + " Firmware Updater";
}

std::string TFlashEngine::ConfirmationText(const std::string& edit1) {
  return "This firmware updater only supports\n\n " + edit1.substr(0, kIdentityLength) +
         " \n\nDo you want to continue ?";
}

}  // namespace tavo
