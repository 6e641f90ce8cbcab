// The backups as files: what is kept and how it is read back for a restore, and the files
// that must be refused before anything is sent to a drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "session/drive_backup.h"
#include "tests/support/flash_fixture.h"
#include "tests/support/text_files.h"

namespace tavo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class DriveBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tavo-backup-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    // Bank 0 carries the drive's INQUIRY template, as a drive's own firmware does.
    std::vector<uint8_t> bank0(0x1000, 0x11);
    PutTemplate(bank0, 0x20, "TAVO    QRD-1040C       1.05");
    backup_.vendor = "TAVO    ";
    backup_.product = "QRD-1040C       ";
    backup_.revision = "1.05";
    backup_.banks = {bank0, std::vector<uint8_t>(0x300, 0x5A)};
    backup_.memorySha256 = MemorySha256(backup_.banks);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Keep() {
    TBackupKeeper keeper(dir_, "");
    std::string where;
    EXPECT_TRUE(keeper.Keep(backup_, where)) << where;
    return where;
  }

  std::string dir_;
  TDriveBackup backup_;
};

TEST_F(DriveBackupTest, AKeptBackupLoadsAsAPlainContainerOfTheDrivesMemory) {
  const std::string path = Keep();
  std::string error;
  const auto loaded = LoadBackup(path, error);
  ASSERT_TRUE(loaded) << error;
  const TFirmwareImage image(loaded->container);
  ASSERT_TRUE(image.Valid());
  EXPECT_EQ(image.Header().ScrambleFlag, 0x00);
  ASSERT_EQ(image.Header().BankCount, 2);
  std::vector<uint8_t> staged(kBankSize, 0);
  image.StageBank(0, staged.data());
  EXPECT_TRUE(std::equal(backup_.banks[0].begin(), backup_.banks[0].end(), staged.begin()));
  EXPECT_EQ(loaded->manifest.memorySha256, backup_.memorySha256);
  EXPECT_EQ(loaded->manifest.revision, "1.05");
  // The manifest path loads the same backup.
  const std::string manifest = path.substr(0, path.size() - 4) + ".json";
  ASSERT_TRUE(LoadBackup(manifest, error)) << error;
  EXPECT_THAT(ReadFile(manifest), Not(HasSubstr("serial")));
}

TEST_F(DriveBackupTest, BackupsMadeInTheSameSecondAreBothKeptAndListed) {
  const std::string first = Keep();
  const std::string second = Keep();
  EXPECT_NE(first, second);
  const auto listed = ListBackups(dir_);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_THAT(BackupLine(listed[0].second), HasSubstr("TAVO QRD-1040C 1.05, "));
  TBackupManifest manifest;
  manifest.time = "2026-12-10 14:03:07";
  EXPECT_EQ(RestoreQuestion("drive [0] /dev/sr0 (TAVO QRD-1040C) from 1.08 to 1.05", manifest),
            "Restore drive [0] /dev/sr0 (TAVO QRD-1040C) from 1.08 to 1.05, the backup of "
            "2026-12-10 14:03?");
}

TEST_F(DriveBackupTest, AChangedDamagedOrForeignBackupIsRefused) {
  const std::string path = Keep();
  const std::string manifest = path.substr(0, path.size() - 4) + ".json";
  const std::string text = ReadFile(manifest);
  std::string error;

  // One byte of the container changed.
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f.put('\x7F');
  }
  EXPECT_FALSE(LoadBackup(path, error));
  EXPECT_THAT(error, HasSubstr("size or SHA-256 differs"));

  // A manifest that points outside its folder.
  std::string outside = text;
  outside.replace(outside.find("\"container\": \"") + 14, 0, "../");
  std::ofstream(manifest, std::ios::trunc) << outside;
  EXPECT_FALSE(LoadBackup(manifest, error));
  EXPECT_THAT(error, HasSubstr("incomplete"));

  // A container whose firmware names another drive than its manifest.
  backup_.product = "QRD-1370C       ";
  const std::string foreign = Keep();
  EXPECT_FALSE(LoadBackup(foreign, error));
  EXPECT_THAT(error, HasSubstr("but its firmware is for"));

  // No manifest at all.
  std::filesystem::remove(foreign.substr(0, foreign.size() - 4) + ".json");
  EXPECT_FALSE(LoadBackup(foreign, error));
  EXPECT_THAT(error, HasSubstr("is not a backup this program made"));
}

}  // namespace
}  // namespace tavo::test
