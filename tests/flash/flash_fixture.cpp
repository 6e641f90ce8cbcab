#include "tests/flash/flash_fixture.h"

namespace tavo::test {

TTestImage PackImage(pack::TPackInput input) {
  TTestImage out;
  std::string error;
  if (!pack::PackContainer(input, out.bytes, error)) {
    ADD_FAILURE() << "packing the test image failed: " << error;
  }
  out.image = std::make_unique<TFirmwareImage>(std::span<const uint8_t>(out.bytes));
  return out;
}

void PutTemplate(std::vector<uint8_t>& bank, size_t offset, const std::string& identity,
                 uint8_t additionalLength, uint8_t family0, uint8_t family1) {
  bank[offset + 0] = 0x05;
  bank[offset + 1] = 0x80;
  bank[offset + 2] = 0x00;
  bank[offset + 3] = 0x02;
  bank[offset + 4] = additionalLength;
  for (size_t i = 0; i < 28; ++i) {
    bank[offset + 8 + i] = i < identity.size() ? static_cast<uint8_t>(identity[i]) : 0;
  }
  bank[offset + 38] = family0;
  bank[offset + 39] = family1;
}

void PutUtf16(std::vector<uint8_t>& bank, size_t offset, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    bank[offset + 2 * i] = static_cast<uint8_t>(text[i]);
    bank[offset + 2 * i + 1] = 0;
  }
}

void FlashTest::Attach(const std::vector<TDriveProfile>& profiles, bool aspi) {
  engine_.reset();
  atapi_.reset();
  bus_ = std::make_unique<TVirtualBus>(clock_);
  for (const TDriveProfile& p : profiles) bus_->AddDrive(p);
  TAtapiConfig config;
  config.passThrough = !aspi;
  config.passThroughPort = bus_.get();
  config.aspiPort = bus_.get();
  config.sink = &sink_;
  config.clock = &clock_;
  atapi_ = std::make_unique<TAtapi>(config);
  for (int k = 0; k < bus_->DriveCount(); ++k) bus_->Drive(k).ClearHistory();
}

void FlashTest::StartUp(const TFirmwareImage* image) {
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, image ? *image : EmbeddedImage(), ui_,
                                           clock_);
  engine_->CopyHeader();
  engine_->BitBtn1Click();
  engine_->FillDriveList();
  engine_->SelectCurrentItem();
  ui_.Clear();
  for (int k = 0; k < bus_->DriveCount(); ++k) bus_->Drive(k).ClearHistory();
}

void FlashTest::SelectRow(int row) {
  state_.items = {TFlashEngine::DriveItemText(atapi_->Drive(row))};
  state_.driveMap[0] = row;
  state_.selectedItem = 0;
  atapi_->SelectDrive(row);
}

std::vector<TCommandRecord> FlashTest::Commands(TCommandKind kind, int k) {
  std::vector<TCommandRecord> out;
  for (const TCommandRecord& r : bus_->Drive(k).History()) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

std::vector<TCommandKind> FlashTest::Kinds(int k) {
  std::vector<TCommandKind> out;
  for (const TCommandRecord& r : bus_->Drive(k).History()) out.push_back(r.kind);
  return out;
}

}  // namespace tavo::test
