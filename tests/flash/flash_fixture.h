// Test rig for the flash engine: a real TAtapi over virtual drives on a virtual clock, and
// a user-interface port that records everything the engine asks of it.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"
#include "firmware/packer.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"

namespace tavo::test {

// Every call the engine makes on the port, in order, as short texts:
// "log:<text>", "progress:<n>", "range:<min>-<max>", "repaint", "pump",
// "enable:<control>=<0|1>", "repaint:<control>", "ask", "reboot".
class TRecordingPort final : public TUserPort {
 public:
  void AddLog(const std::string& text) override {
    events.push_back("log:" + text);
    logs.push_back(text);
  }
  void SetProgress(int value) override {
    events.push_back("progress:" + std::to_string(value));
    progress.push_back(value);
  }
  void SetProgressRange(int minimum, int maximum) override {
    events.push_back("range:" + std::to_string(minimum) + "-" + std::to_string(maximum));
  }
  void RepaintProgress() override { events.push_back("repaint"); }
  void ProcessMessages() override {
    ++pumps;
    events.push_back("pump");
  }
  void SetControlEnabled(TControl control, bool enabled) override {
    events.push_back("enable:" + Name(control) + "=" + (enabled ? "1" : "0"));
    enabledState[static_cast<int>(control)] = enabled;
  }
  void RepaintControl(TControl control) override { events.push_back("repaint:" + Name(control)); }
  bool AskReboot() override {
    events.push_back("ask");
    return rebootAnswer;
  }
  void RequestReboot() override { events.push_back("reboot"); }

  bool Enabled(TControl control) const { return enabledState[static_cast<int>(control)]; }
  // Events of one kind ("enable:", "ask", ...), in order.
  std::vector<std::string> EventsStarting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : events) {
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    }
    return out;
  }
  void Clear() {
    events.clear();
    logs.clear();
    progress.clear();
    pumps = 0;
  }

  std::vector<std::string> events;
  std::vector<std::string> logs;
  std::vector<int> progress;
  int pumps = 0;
  bool rebootAnswer = false;
  bool enabledState[3] = {true, true, true};

 private:
  static std::string Name(TControl control) {
    switch (control) {
      case TControl::SelDevice:
        return "SelDevice";
      case TControl::BitBtn2:
        return "BitBtn2";
      case TControl::BitBtn3:
        return "BitBtn3";
    }
    return "?";
  }
};

class TRecordingSink final : public TAtapiSink {
 public:
  void ShowPlainMessage(const std::string& text) override { messages.push_back(text); }
  void PumpMessage() override {}
  std::vector<std::string> messages;
};

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
  // Builds the bus with one drive per profile and the TAtapi over it.
  void Attach(const std::vector<TDriveProfile>& profiles, bool aspi = false);
  void Attach(const std::string& profileName, bool aspi = false) {
    Attach(std::vector<TDriveProfile>{*FindProfile(profileName)}, aspi);
  }
  // Engine on the given image (the embedded one by default), after the start-up steps the
  // window runs: header copy, identity extraction, drive list, selection of item 0.
  void StartUp(const TFirmwareImage* image = nullptr);
  // Selects drive-table row as the only list item, whatever its identity.
  void SelectRow(int row);

  TVirtualDrive& Drive(int k = 0) { return bus_->Drive(k); }
  // Commands the drive received of one kind, in order.
  std::vector<TCommandRecord> Commands(TCommandKind kind, int k = 0);
  std::vector<TCommandKind> Kinds(int k = 0);

  TVirtualClock clock_;
  std::unique_ptr<TVirtualBus> bus_;
  TRecordingSink sink_;
  std::unique_ptr<TAtapi> atapi_;
  TFlashState state_;
  TRecordingPort ui_;
  std::unique_ptr<TFlashEngine> engine_;
};

}  // namespace tavo::test
