// Image identity extraction and the start-up helpers that use it: drive list, caption and
// confirmation text.
#include "tests/support/flash_fixture.h"

namespace tavo::test {
namespace {

using ::testing::ElementsAre;

class IdentityTest : public FlashTest {
 protected:
  // Runs the start-up on a plain one-bank image built from bank0.
  void StartWith(const std::vector<uint8_t>& bank0, uint8_t identityCheck = 0x20) {
    pack::TPackInput input;
    input.ScrambleFlag = 0x00;
    input.IdentityCheckFlag = identityCheck;
    input.Banks = {bank0};
    image_ = PackImage(input);
    if (!atapi_) Attach("default");
    engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, *image_.image, ui_, clock_);
    Drive().ClearHistory();
    engine_->CopyHeader();
    engine_->BitBtn1Click();
  }
  TTestImage image_;
};

TEST_F(IdentityTest, EmbeddedImageNamesItsDriveAndCarriesTheMarker) {
  Attach("default");
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, EmbeddedImage(), ui_, clock_);
  Drive().ClearHistory();
  engine_->CopyHeader();
  engine_->BitBtn1Click();
  EXPECT_EQ(state_.edit1, "TAVO    QRD-1040C       1.08");
  EXPECT_EQ(state_.imageFamilyCode, (std::array<uint8_t, 2>{'T', '7'}));
  EXPECT_EQ(state_.imageHasDesignMarker, 1);
  EXPECT_TRUE(ui_.logs.empty());
  EXPECT_TRUE(Drive().History().empty());  // identity-check flag 20h: no drive command
}

TEST_F(IdentityTest, FirstTemplateWinsAndNearMissesAreSkipped) {
  std::vector<uint8_t> bank(0x1000, 0);
  bank[0] = 0x11;
  PutTemplate(bank, 0x100, "TAVO    QRD-1040C       1.08", 0x24);  // length 24h: no template
  PutTemplate(bank, 0x200, "FIRST   QRD-0001        0.01", 0x1F, 'A', 'B');
  PutTemplate(bank, 0x300, "SECOND  QRD-0002        0.02", 0x5B);
  bank[0x203] = 0x00;  // byte 3 is not tested
  // With 1Fh the family bytes still come from +38/+39, past the template's 36 bytes.
  StartWith(bank);
  EXPECT_EQ(state_.edit1, "FIRST   QRD-0001        0.01");
  EXPECT_EQ(state_.imageFamilyCode, (std::array<uint8_t, 2>{'A', 'B'}));
  EXPECT_EQ(state_.imageHasDesignMarker, 0);
}

TEST_F(IdentityTest, ZeroByteInTheProductShortensTheIdentity) {
  std::vector<uint8_t> bank(0x1000, 0);
  bank[0] = 0x11;
  PutTemplate(bank, 0x80, std::string("TAVO    QRD") + '\0' + "1040C       1.08");
  StartWith(bank);
  EXPECT_EQ(state_.edit1, "TAVO    QRD");
  // No drive can match the shortened text.
  engine_->FillDriveList();
  EXPECT_TRUE(state_.items.empty());
}

TEST_F(IdentityTest, MarkerAtAnOddOffsetIsFoundForTheSpecialModelOnly) {
  std::vector<uint8_t> bank(0x2000, 0);
  bank[0] = 0x11;
  PutTemplate(bank, 0x80, "TAVO    QRD-1040C       1.08");
  PutUtf16(bank, 0x1001, "Tavonix Design");
  StartWith(bank);
  EXPECT_EQ(state_.imageHasDesignMarker, 1);

  state_ = TFlashState{};
  PutTemplate(bank, 0x80, "TAVO    QRD-1150C       1.08");
  StartWith(bank);
  EXPECT_EQ(state_.edit1, "TAVO    QRD-1150C       1.08");
  EXPECT_EQ(state_.imageHasDesignMarker, 0);

  state_ = TFlashState{};
  PutTemplate(bank, 0x80, "TAVO    QRD-1040C       1.08");
  PutUtf16(bank, 0x1001, "Tavonix DesigN");
  StartWith(bank);
  EXPECT_EQ(state_.imageHasDesignMarker, 0);
}

TEST_F(IdentityTest, IdentityCheckFlag10hAsksTheFirstDrive) {
  std::vector<uint8_t> bank(0x1000, 0);
  bank[0] = 0x11;
  PutTemplate(bank, 0x80, "TAVO    QRD-1040C       1.08", 0x5B, 'W', '0');
  StartWith(bank, 0x10);  // the default virtual drive is "W0"
  EXPECT_EQ(state_.edit1, "TAVO    QRD-1040C       1.08");
  EXPECT_EQ(Commands(TCommandKind::Inquiry).size(), 1u);

  state_ = TFlashState{};
  PutTemplate(bank, 0x80, "TAVO    QRD-1040C       1.08", 0x5B, 'T', '7');
  StartWith(bank, 0x10);
  EXPECT_TRUE(state_.edit1.empty());
  EXPECT_EQ(state_.imageFamilyCode, (std::array<uint8_t, 2>{'T', '7'}));
  EXPECT_THAT(ui_.logs, ElementsAre("Err:The firmware is not support this device!!(4)"));
}

TEST_F(IdentityTest, IdentityCheckWithNoDriveAttached) {
  Attach(std::vector<TDriveProfile>{});
  ASSERT_EQ(atapi_->DriveCount(), 0);
  std::vector<uint8_t> bank(0x1000, 0);
  bank[0] = 0x11;
  PutTemplate(bank, 0x80, "TAVO    QRD-1040C       1.08", 0x5B, 'T', '7');
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  input.IdentityCheckFlag = 0x10;
  input.Banks = {bank};
  image_ = PackImage(input);
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, *image_.image, ui_, clock_);
  engine_->CopyHeader();
  engine_->BitBtn1Click();
  EXPECT_TRUE(state_.edit1.empty());
  EXPECT_THAT(ui_.logs, ElementsAre("Err:The firmware is not support this device!!(4)"));
}

TEST_F(IdentityTest, MemoryShortageLeavesNoIdentity) {
  Attach("default");
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, EmbeddedImage(), ui_, clock_);
  engine_->CopyHeader();
  engine_->SimulateAllocationFailure(1);
  engine_->BitBtn1Click();
  EXPECT_THAT(ui_.logs, ElementsAre("Err:Memory allocation"));
  EXPECT_TRUE(state_.edit1.empty());
  EXPECT_EQ(state_.imageHasDesignMarker, 0);
}

// ---- Drive list and texts

TDriveProfile Named(const std::string& vendor, const std::string& product,
                    const std::string& revision) {
  TDriveProfile p = *FindProfile("default");
  p.vendor = vendor;
  p.product = product;
  p.revision = revision;
  return p;
}

TEST_F(IdentityTest, DriveListMatchesVendorAndProductAndHoldsTen) {
  std::vector<TDriveProfile> drives = {
      Named("TAVO    ", "QRD-1040C       ", "1.00"),
      Named("OTHER   ", "QRD-1040C       ", "1.08"),  // other vendor: not listed
      Named("TAVO    ", "QRD-1040C       ", "2.00"),  // other revision: listed
  };
  for (int i = 0; i < 10; ++i) drives.push_back(Named("TAVO    ", "QRD-1040C       ", "3.00"));
  Attach(drives, /*aspi=*/true);  // the sg-driver transport lists up to 20 drives
  ASSERT_EQ(atapi_->DriveCount(), 13);
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, EmbeddedImage(), ui_, clock_);
  engine_->CopyHeader();
  engine_->BitBtn1Click();
  engine_->FillDriveList();
  ASSERT_EQ(state_.items.size(), 10u);
  EXPECT_EQ(state_.items[0], "TAVO    QRD-1040C        1.00");
  EXPECT_EQ(state_.items[1], "TAVO    QRD-1040C        2.00");
  EXPECT_EQ(state_.driveMap[0], 0);
  EXPECT_EQ(state_.driveMap[1], 2);
  EXPECT_EQ(state_.driveMap[9], 10);  // rows 11 and 12 do not fit
  EXPECT_EQ(state_.selectedItem, 0);
  state_.selectedItem = 1;
  engine_->SelectCurrentItem();
  EXPECT_EQ(atapi_->HaId(), atapi_->Drive(2).HaId);
  EXPECT_EQ(atapi_->TargetId(), atapi_->Drive(2).TargetId);
}

TEST(StartUpTexts, CaptionConfirmationAndNotice) {
  EXPECT_EQ(TFlashEngine::CaptionFor("TAVO    QRD-1040C       1.08"), "QRD-1040C Firmware Updater");
  EXPECT_EQ(TFlashEngine::CaptionFor("TAVO    ABCDEFGHIJKLMNOP1.08"),
            "ABCDEFGHIJKLMNOP Firmware Updater");
  EXPECT_EQ(TFlashEngine::CaptionFor("TAVO"), " Firmware Updater");
  EXPECT_EQ(TFlashEngine::ConfirmationText("TAVO    QRD-1040C       1.08"),
            "This firmware updater only supports\n\n TAVO    QRD-1040C        \n\nDo you want "
            "to continue ?");
  EXPECT_STREQ(TFlashEngine::kNoticeLines[0], "Important Notice: ");
  EXPECT_STREQ(TFlashEngine::kNoticeLines[3], "    to do so.");
  EXPECT_STREQ(TFlashEngine::kNoticeLines[5], "    your drive.");
}

}  // namespace
}  // namespace tavo::test
