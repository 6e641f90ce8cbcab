// The state the main window keeps for the life of the window and that the start-up
// dialogue and the flash procedure share. One plain structure, owned by the front end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace tavo {

inline constexpr int kDriveMapSlots = 10;

struct TFlashState {
  // The window's copy of the image header values.
  TImageHeader header{};
  // Image identity text (the text of Edit1); empty when the image has no usable identity.
  std::string edit1;
  // The image's FamilyCode, 00h 00h until a template has been found.
  std::array<uint8_t, 2> imageFamilyCode{};
  uint8_t imageHasDesignMarker = 0;
  uint8_t selectedIsSpecialModel = 0;
  uint8_t closeRequest = 0;
  // Drive list: item texts of SelDevice and, slot by slot, the drive-table row each stands for.
  std::vector<std::string> items;
  std::array<int32_t, kDriveMapSlots> driveMap{};
  // Identity-check flag 10h: the drive-table rows whose FamilyCode matched the image's at
  // start-up. Only these rows are listed.
  std::vector<int32_t> familyRows;
  // Selected item of SelDevice, -1 when none.
  int selectedItem = -1;

  // Text of the selected item, empty when nothing is selected.
  std::string SelectedItemText() const {
    return selectedItem >= 0 && selectedItem < static_cast<int>(items.size()) ? items[selectedItem]
                                                                              : std::string();
  }
};

}  // namespace tavo
