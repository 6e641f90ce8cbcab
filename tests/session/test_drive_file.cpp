// A virtual drive kept in a file: a flash made by one program run is what the next run
// meets, on both transports; a file that is not whole is refused, naming it, and kept.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "session/drive_file.h"
#include "tests/support/text_files.h"
#include "tests/support/virtual_rig.h"

namespace tavo::test {
namespace {

namespace fs = std::filesystem;

class DriveFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tavo-drive-file-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "sr0.vdrive").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A program run's drives: a new bus whose drive powers on from the file.
  void PowerOn(TVirtualRig& rig, const std::string& profile = "default") {
    rig.Attach({*FindProfile(profile)}, GetParam());
    std::string error;
    ASSERT_TRUE(AttachDriveFile(rig.bus->Drive(0), path_, nullptr, error)) << error;
    rig.Reopen();
  }

  fs::path dir_;
  std::string path_;
};

TEST_P(DriveFileTest, AFlashIsWhatTheNextRunMeets) {
  std::vector<uint8_t> written;
  {
    TVirtualRig first;
    PowerOn(first);
    EXPECT_STREQ(first.atapi->Drive(0).Revision, "1.05");
    first.StartUp();
    first.engine->BitBtn2Click();
    ASSERT_TRUE(first.engine->LastRunVerified());
    written = first.bus->Drive(0).Flash();
  }
  TVirtualRig second;
  PowerOn(second);
  EXPECT_STREQ(second.atapi->Drive(0).Revision, "1.08");
  // What the drive's memory reads give is the memory the first run left, byte for byte.
  const std::vector<uint8_t>& memory = second.bus->Drive(0).Flash();
  EXPECT_EQ(memory, written);
  EXPECT_NE(memory, TVirtualDrive(*FindProfile("default"), second.clock).Flash());
  second.atapi->SelectDrive(0);
  for (uint8_t bank = 0; bank < scsi::kMaxBanks; ++bank) {
    for (uint32_t offset = 0; offset < scsi::kBankSize; offset += 0x4000) {
      uint8_t piece[scsi::kMemoryPieceLength] = {};
      ASSERT_EQ(second.atapi->ReadMemory(piece, bank, static_cast<uint16_t>(offset)), 1);
      const size_t at = static_cast<size_t>(bank) * scsi::kBankSize + offset;
      EXPECT_TRUE(std::equal(piece, piece + sizeof piece, memory.begin() + at)) << at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, DriveFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "aspi" : "passthrough"; });

TEST(DriveFile, AFileThatIsNotWholeIsRefusedNamingItAndKept) {
  const fs::path dir = fs::temp_directory_path() / "tavo-drive-file-bad";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "d.vdrive").string();
  TVirtualClock clock;
  {
    TVirtualDrive maker(*FindProfile("default"), clock);
    std::string error;
    ASSERT_TRUE(AttachDriveFile(maker, path, nullptr, error)) << error;
  }
  const std::string whole = ReadFile(path);
  ASSERT_GT(whole.size(), 512u * 1024);

  struct TCase {
    std::string name;
    std::string bytes;
    std::string profile;
    std::string says;
  };
  std::string flipped = whole;
  flipped[100000] = static_cast<char>(flipped[100000] ^ 0x40);
  const std::vector<TCase> cases = {
      {"cut short", whole.substr(0, whole.size() - 1), "default", " is damaged: it is cut short"},
      {"cut in the header", whole.substr(0, 20), "default", " is damaged: it is cut short"},
      {"one byte changed", flipped, "default", " is damaged: its checksum does not match"},
      {"more after its end", whole + "x", "default", " is damaged: it goes on after its end"},
      {"foreign", "[0] TAVO QRD-1040C 1.05\n", "default", " is not a virtual drive file"},
      {"empty", "", "default", " is not a virtual drive file"},
      {"another profile", whole, "newer", " holds a drive of profile \"default\", not \"newer\""},
  };
  for (const TCase& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    TVirtualDrive drive(*FindProfile(c.profile), clock);
    const std::vector<uint8_t> poweredOn = drive.Flash();
    std::string error;
    EXPECT_FALSE(AttachDriveFile(drive, path, nullptr, error)) << c.name;
    EXPECT_NE(error.find(path + c.says), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(ReadFile(path), c.bytes) << c.name << ": the file was changed";
    EXPECT_EQ(drive.Flash(), poweredOn) << c.name;
  }

  // The program's own drive session refuses it the same way, before any drive is used.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << whole.substr(0, 1000);
  TStartupOptions options;
  options.emulate = true;
  options.profiles = {"default"};
  options.driveFiles = {path};
  TRecordingSink sink;
  TDriveSession session(options, clock, sink);
  EXPECT_FALSE(session.Ok());
  EXPECT_NE(session.Error().find(path + " is damaged"), std::string::npos) << session.Error();
  fs::remove_all(dir);
}

// A file that can no longer be written is said once, not at every change, and the drive
// goes on; once it can be written again it is.
TEST(DriveFile, AFailedWriteIsReportedOnce) {
  const fs::path dir = fs::temp_directory_path() / "tavo-drive-file-unwritable";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "d.vdrive").string();
  TVirtualClock clock;
  TVirtualDrive drive(*FindProfile("default"), clock);
  std::vector<std::string> reports;
  std::string error;
  ASSERT_TRUE(AttachDriveFile(
      drive, path, [&](const std::string& text) { reports.push_back(text); }, error));
  fs::remove(path);
  fs::create_directory(path);  // the rename over it can only fail now
  std::vector<uint8_t> patch(16, 0xA5);
  scsi::TCdb cdb = scsi::VendorCdb(scsi::kSubWritePatch, scsi::kVendorSignature);
  cdb[scsi::kWritePatchLengthByte] = static_cast<uint8_t>(patch.size());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(drive.Execute(cdb.data(), cdb.size(), patch.data(), 16, TDataDirection::Out).status,
              scsi::kStatusGood);
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find(path + " cannot be written: it is a folder"), std::string::npos)
      << reports[0];
  fs::remove(path);
  drive.Execute(cdb.data(), cdb.size(), patch.data(), 16, TDataDirection::Out);
  bool missing = false;
  const std::optional<TStoredDrive> stored = ReadDriveFile(path, error, missing);
  ASSERT_TRUE(stored) << error;
  EXPECT_EQ(stored->memory, drive.Flash());
  EXPECT_EQ(stored->memory[0], 0xA5);
  // The failed writes left no temporary file behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tavo::test
