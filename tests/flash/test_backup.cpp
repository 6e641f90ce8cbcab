// The backup a run makes before its first command that writes: what it covers, that it
// comes before any write, that reads which disagree or fail (or a copy that cannot be kept)
// stop the run with nothing written, and that flashing the backup back restores the drive
// and is verified by its digest.
#include <algorithm>

#include "drive/recording_format.h"
#include "tests/support/flash_fixture.h"
#include "tests/support/memory_backup_store.h"

namespace tavo::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

bool Writes(TCommandKind kind) {
  return kind == TCommandKind::WritePatch || kind == TCommandKind::FlashWrite;
}

class BackupTest : public FlashTest {
 protected:
  void Run(const std::string& profile) {
    Attach(profile);
    StartUp();
    engine_->SetBackupStore(&store_);
    before_ = Drive().Flash();
    engine_->BitBtn2Click();
  }
  void ExpectNothingWritten() {
    const std::vector<TCommandKind> kinds = Kinds();
    EXPECT_TRUE(std::none_of(kinds.begin(), kinds.end(), Writes));
    EXPECT_TRUE(engine_->LastRunBackupRefused());
    EXPECT_FALSE(engine_->LastWrites().AnySent());
    EXPECT_EQ(Drive().Flash(), before_);
    EXPECT_TRUE(store_.kept.empty());
  }
  TMemoryBackupStore store_;
  std::vector<uint8_t> before_;
};

TEST_F(BackupTest, CoversEveryByteARunRewritesAndIsTakenBeforeTheFirstWrite) {
  for (const char* profile : {"default", "normal-mode"}) {
    SCOPED_TRACE(profile);
    store_.kept.clear();
    Run(profile);
    ASSERT_TRUE(engine_->LastRunVerified());
    ASSERT_EQ(store_.kept.size(), 1u);
    const TDriveBackup& backup = store_.kept[0];
    EXPECT_EQ(backup.vendor, "TAVO    ");
    EXPECT_EQ(backup.product, "QRD-1040C       ");
    EXPECT_EQ(backup.revision, "1.05");
    const bool fullBank = std::string(profile) == "default";
    ASSERT_EQ(backup.banks.size(), 8u);
    for (unsigned b = 0; b < 8; ++b) {
      // Full-bank transfers rewrite a fixed length; normal ones the image's bank, and the
      // patch region (bank 0, 0400h, 384 bytes) lies inside bank 0 either way.
      const size_t expected = fullBank ? FullBankLength(b) : state_.header.BankLength[b];
      EXPECT_EQ(backup.banks[b].size(), expected) << "bank " << b;
      EXPECT_TRUE(std::equal(backup.banks[b].begin(), backup.banks[b].end(),
                             before_.begin() + b * kBankSize))
          << "bank " << b;
    }
    EXPECT_EQ(backup.memorySha256, MemorySha256(backup.banks));
    EXPECT_EQ(engine_->LastBackupPath(), "/backups/1.bin");
    EXPECT_THAT(ui_.logs, Contains("Backup saved: /backups/1.bin"));
    // Both reads of every byte come before the first command that writes.
    const std::vector<TCommandKind> kinds = Kinds();
    const auto firstWrite = std::find_if(kinds.begin(), kinds.end(), Writes);
    size_t pieces = 0;
    for (const auto& bank : backup.banks) pieces += (bank.size() + 255) / 256;
    EXPECT_GE(static_cast<size_t>(std::count(kinds.begin(), firstWrite, TCommandKind::ReadMemory)),
              2 * pieces);
  }
}

TEST_F(BackupTest, ReadsThatDisagreeOrFailStopTheRunWithNothingWritten) {
  // No two reads of its memory agree.
  Run("unstable-read");
  EXPECT_EQ(ui_.logs.back(), "Err:Backup read unstable !!");
  ExpectNothingWritten();

  // Every memory read refused (the patch refresh's plan, which reads first, then leaves the
  // region alone; the backup cannot).
  Attach("default");
  StartUp();
  engine_->SetBackupStore(&store_);
  before_ = Drive().Flash();
  ui_.logs.clear();
  Drive().InjectFault(
      TFault::Check(TCommandKind::ReadMemory, scsi::kSenseInvalidFieldInCdb, kAlways));
  engine_->BitBtn2Click();
  EXPECT_EQ(ui_.logs.back(), "Err:Backup read fail !!");
  ExpectNothingWritten();
}

// A run its checks will stop (here the marker search in the firmware as the patch refresh
// would leave it) reads no backup and keeps none: it writes nothing anyway.
TEST_F(BackupTest, ARunItsChecksWillStopKeepsNoBackup) {
  Run("no-marker");
  EXPECT_EQ(ui_.logs.back(), "This firmware isn't support !!(10)");
  EXPECT_TRUE(store_.kept.empty());
  EXPECT_FALSE(engine_->LastRunBackupRefused());
}

TEST_F(BackupTest, ACopyThatCannotBeKeptStopsTheRunAndSaysWhy) {
  store_.refuse = "cannot write /full/disk: No space left on device";
  Run("default");
  EXPECT_THAT(ui_.logs, ElementsAre("Backup not saved: cannot write /full/disk: No space left on "
                                    "device",
                                    "Err:Backup save fail !!"));
  ExpectNothingWritten();
}

TEST_F(BackupTest, ASkippedBackupReadsNothingForItAndSaysSo) {
  store_.skip = "--no-backup was given.";
  Run("default");
  EXPECT_TRUE(engine_->LastRunVerified());
  EXPECT_TRUE(store_.kept.empty());
  EXPECT_EQ(ui_.logs.front(), "Backup skipped: --no-backup was given.");
  const std::vector<TCommandKind> kinds = Kinds();
  const auto firstWrite = std::find_if(kinds.begin(), kinds.end(), Writes);
  // Only the patch-region comparison reads memory before the first write.
  EXPECT_LE(std::count(kinds.begin(), firstWrite, TCommandKind::ReadMemory), 2);
}

TEST_F(BackupTest, FlashingTheBackupBackRestoresTheDriveAndIsVerifiedByItsDigest) {
  Run("default");
  ASSERT_TRUE(engine_->LastRunVerified());
  ASSERT_EQ(store_.kept.size(), 1u);
  const TDriveBackup backup = store_.kept[0];
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  input.Banks = backup.banks;
  const TTestImage restore = PackImage(input);
  ASSERT_TRUE(restore.image->Valid());

  // The same drive, now at 1.08, given its old memory back.
  rig_.StartUp(restore.image.get());
  ASSERT_EQ(state_.edit1, "TAVO    QRD-1040C       1.05");
  engine_->SetExpectedMemorySha256(backup.memorySha256);
  // The drive now runs firmware of another family ("T7") than its backup names ("W0").
  engine_->SetRestore(true);
  engine_->BitBtn2Click();
  EXPECT_TRUE(engine_->LastRunVerified()) << ::testing::PrintToString(ui_.logs);
  for (unsigned b = 0; b < 8; ++b) {
    EXPECT_TRUE(std::equal(backup.banks[b].begin(), backup.banks[b].end(),
                           Drive().Flash().begin() + b * kBankSize))
        << "bank " << b;
  }

  // A digest the read-back does not give fails the verification, although the 16-bit sum
  // still matches.
  engine_->SetExpectedMemorySha256(std::string(64, '0'));
  engine_->BitBtn2Click();
  EXPECT_FALSE(engine_->LastRunVerified());
  EXPECT_EQ(engine_->LastVerifyFailure(), TVerifyFailure::Mismatch);
  EXPECT_EQ(ui_.logs.back(), "Err:Verify NG !!");
}

}  // namespace
}  // namespace tavo::test
