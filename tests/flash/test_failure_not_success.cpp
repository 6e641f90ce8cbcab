// Runs in which something failed and that must therefore end in a failure line: a command
// that never completed, sense left behind by an earlier command, a bank too long to send
// whole, a commit refused without sense, and a family check asked of the wrong drive.
#include <algorithm>

#include "drive/scsi.h"
#include "tests/support/flash_fixture.h"

namespace tavo::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr uint32_t kLongProgrammingMs = 90000;

TDriveProfile SlowProfile(const std::string& name) {
  TDriveProfile p = *FindProfile(name);
  p.programmingTimeMs = kLongProgrammingMs;
  return p;
}

class FailureNotSuccessTest : public FlashTest {
 protected:
  void Run() { engine_->BitBtn2Click(); }
  // The run went through the whole procedure and the drive holds the image.
  void ExpectVerifiedAfterProgramming() {
    EXPECT_THAT(ui_.logs, Contains("Flash Complete!!"));
    EXPECT_THAT(ui_.logs, Contains("Firmware Verify ok!!"));
    EXPECT_THAT(ui_.logs, Not(Contains("Err:Verify NG !!")));
    EXPECT_FALSE(Drive().Programming());
  }
};

// A bank download that never completes is a failed download: nothing after it is sent.
TEST_F(FailureNotSuccessTest, LostBankDownloadStopsTheRun) {
  Attach("default");
  StartUp();
  Drive().InjectFault(TFault::Lose(TCommandKind::FlashDownload));
  Run();
  EXPECT_THAT(ui_.logs, Contains("Status:0x4 ; Err:Flash command(W) has problems."));
  EXPECT_THAT(ui_.logs, Not(Contains("Flash Complete!!")));
  EXPECT_TRUE(Commands(TCommandKind::FlashCommit).empty());
  EXPECT_TRUE(Commands(TCommandKind::FlashDownload).empty());  // bank 0 never arrived
}

// A readiness poll whose TEST UNIT READY times out has not seen the drive ready.
TEST_F(FailureNotSuccessTest, TimedOutPollIsNotReady) {
  Attach(std::vector<TDriveProfile>{SlowProfile("default")});
  StartUp();
  Drive().InjectFault(TFault::Lose(TCommandKind::TestUnitReady));
  Run();
  ExpectVerifiedAfterProgramming();
}

// Sg-driver transport, commit refused as an illegal request. The TEST UNIT READY before the
// retry reports an empty tray, the retry is taken, and the first poll gets no completion:
// the empty-tray sense belongs to an earlier command and does not make the drive ready.
TEST_F(FailureNotSuccessTest, EmptyTraySenseOfAnEarlierCommandDoesNotEndThePoll) {
  Attach(std::vector<TDriveProfile>{SlowProfile("commit-illegal")}, /*aspi=*/true);
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::TestUnitReady, {scsi::kNotReady, 0x3A, 0}));
  Drive().InjectFault(TFault::Lose(TCommandKind::TestUnitReady));
  Run();
  ExpectVerifiedAfterProgramming();
}

// Sg-driver transport: ILLEGAL REQUEST left by the refused patch-info read does not turn a
// commit that timed out into a retry; the commit failed.
TEST_F(FailureNotSuccessTest, StaleIllegalRequestDoesNotStartARetry) {
  Attach("default", /*aspi=*/true);
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::ReadPatchInfo, {scsi::kIllegalRequest, 0x20, 0}));
  Drive().InjectFault(TFault::Lose(TCommandKind::FlashCommit));
  Run();
  EXPECT_TRUE(Commands(TCommandKind::FlashRetry).empty());
  EXPECT_THAT(ui_.logs, Contains("Status:4;SenseCode:0 : 0 : 0;"));
  EXPECT_THAT(ui_.logs, Contains("Err:Flash Fail."));
  EXPECT_THAT(ui_.logs, Not(Contains("Flash Complete!!")));
  EXPECT_TRUE(Commands(TCommandKind::TestUnitReady).empty());  // no poll
}

// A commit refused with a bare CHECK CONDITION (no sense key) failed like any other refusal.
TEST_F(FailureNotSuccessTest, CommitRefusedWithoutSenseFailsWithoutPolling) {
  Attach("default");
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::FlashCommit, {}));
  Run();
  EXPECT_THAT(ui_.logs, Contains("Status:2;SenseCode:0 : 0 : 0;"));
  EXPECT_THAT(ui_.logs, Contains("Err:Flash Fail."));
  EXPECT_THAT(ui_.logs, Not(Contains("Flash Complete!!")));
  EXPECT_TRUE(Commands(TCommandKind::TestUnitReady).empty());
}

// A bank longer than a full-bank transfer carries makes the container unusable at start-up,
// so nothing is ever sent with part of the bank missing.
TEST_F(FailureNotSuccessTest, BankLongerThanAFullBankTransferIsRefusedAtStartUp) {
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  std::vector<uint8_t> bank0(0x1000, 0x11);
  PutTemplate(bank0, 0x80, "TAVO    QRD-1040C       1.08", 0x5B, 'W', '0');
  input.Banks = {bank0, std::vector<uint8_t>(0xF800, 0x22)};
  const TTestImage image = PackImage(input);
  ASSERT_FALSE(image.image->Valid());

  Attach("default");
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, *image.image, ui_, clock_);
  engine_->CopyHeader();
  engine_->BitBtn1Click();
  EXPECT_THAT(ui_.logs, ElementsAre(image.image->CheckError()));
  EXPECT_TRUE(state_.edit1.empty());
  Run();
  EXPECT_THAT(ui_.logs, Contains("Err:File Error !!"));
  EXPECT_TRUE(Commands(TCommandKind::FlashDownload).empty());
}

// Identity-check flag 10h: each drive the image names answers for its own family. Another
// maker's drive in row 0 and a namesake of another family in row 1 do not hide the target.
TEST_F(FailureNotSuccessTest, FamilyIsCheckedOnEveryDriveTheImageNames) {
  TDriveProfile other = *FindProfile("default");
  other.vendor = "OTHER   ";
  other.family = {'Q', '9'};
  TDriveProfile namesake = *FindProfile("default");
  namesake.family = {'Q', '9'};
  Attach({other, namesake, *FindProfile("default")});

  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  input.IdentityCheckFlag = 0x10;
  std::vector<uint8_t> bank0(0x1000, 0x11);
  PutTemplate(bank0, 0x80, "TAVO    QRD-1040C       1.08", 0x5B, 'W', '0');
  input.Banks = {bank0};
  const TTestImage image = PackImage(input);
  StartUp(image.image.get());
  EXPECT_EQ(state_.edit1, "TAVO    QRD-1040C       1.08");
  EXPECT_THAT(state_.items, ElementsAre(TFlashEngine::DriveItemText(atapi_->Drive(2))));
  EXPECT_EQ(state_.driveMap[0], 2);
}

}  // namespace
}  // namespace tavo::test
