// Test fixture for the flash engine: the virtual rig (a real TAtapi over virtual drives on a
// virtual clock, the engine, a recording user port) under the member names the flash tests
// use, and helpers that pack test images.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/profiles.h"
#include "image/firmware_image.h"
#include "image/packer.h"
#include "tests/support/recording.h"
#include "tests/support/virtual_rig.h"

namespace tavo::test {

// A container packed in the test, plain (scramble flag 00h) unless told otherwise.
struct TTestImage {
  std::vector<uint8_t> bytes;
  std::unique_ptr<TFirmwareImage> image;
};

TTestImage PackImage(pack::TPackInput input);

// Bank 0 content with an INQUIRY template at offset: vendor+product+revision text (28
// characters, or shorter to end early with a zero byte), family bytes at +38/+39.
void PutTemplate(std::vector<uint8_t>& bank, size_t offset, const std::string& identity,
                 uint8_t additionalLength = 0x5B, uint8_t family0 = 'T', uint8_t family1 = '7');
void PutUtf16(std::vector<uint8_t>& bank, size_t offset, const std::string& text);

class FlashTest : public ::testing::Test {
 protected:
  // Builds the bus with one drive per profile and the drive session over it.
  void Attach(const std::vector<TDriveProfile>& profiles, bool aspi = false) {
    rig_.Attach(profiles, aspi);
  }
  void Attach(const std::string& profileName, bool aspi = false) {
    Attach(std::vector<TDriveProfile>{*FindProfile(profileName)}, aspi);
  }
  // Engine on the given image (the embedded one by default), after the start-up sequence
  // (confirmed): header copy, identity extraction, drive list, selection of item 0.
  void StartUp(const TFirmwareImage* image = nullptr) { rig_.StartUp(image); }
  // Selects drive-table row as the only list item, whatever its identity.
  void SelectRow(int row) { rig_.SelectRow(row); }

  TVirtualDrive& Drive(int k = 0) { return bus_->Drive(k); }
  // Commands the drive received of one kind, in order.
  std::vector<TCommandRecord> Commands(TCommandKind kind, int k = 0) {
    return rig_.Commands(kind, k);
  }
  std::vector<TCommandKind> Kinds(int k = 0) { return rig_.Kinds(k); }

  TVirtualRig rig_;
  TVirtualClock& clock_ = rig_.clock;
  std::unique_ptr<TVirtualBus>& bus_ = rig_.bus;
  TRecordingSink& sink_ = rig_.sink;
  TAtapi*& atapi_ = rig_.atapi;
  TFlashState& state_ = rig_.state;
  TRecordingPort& ui_ = rig_.ui;
  std::unique_ptr<TFlashEngine>& engine_ = rig_.engine;
};

}  // namespace tavo::test
