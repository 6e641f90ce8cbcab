// Whole flash runs of the real procedure over the real TAtapi against each profile: the
// line each drive a user could own ends with, and what its flash holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "emulator/virtual_bus.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"

namespace tavo {
namespace {

struct TRecordingUi : TLogOnlyPort {
  bool Logged(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

struct TQuietSink : TAtapiSink {
  void ShowPlainMessage(const std::string&) override {}
  void PumpMessage() override {}
};

struct TRun {
  TRun(const std::string& profile, bool passThrough) {
    bus.AddDrive(*FindProfile(profile));
    atapi = std::make_unique<TAtapi>(TAtapiConfig{passThrough, &bus, &bus, &sink, &clock});
    engine = std::make_unique<TFlashEngine>(state, *atapi, EmbeddedImage(), ui, clock);
    engine->CopyHeader();
    engine->BitBtn1Click();
    engine->FillDriveList();
    engine->SelectCurrentItem();
  }
  TVirtualClock clock;
  TQuietSink sink;
  TVirtualBus bus{clock};
  std::unique_ptr<TAtapi> atapi;
  TFlashState state;
  TRecordingUi ui;
  std::unique_ptr<TFlashEngine> engine;
};

uint16_t FlashSum(TVirtualDrive& drive, const TImageHeader& header) {
  uint32_t sum = 0;
  for (unsigned b = 0; b < header.BankCount && b < 8; ++b) {
    sum += FlashBankSum(drive, b, header.BankLength[b]);
  }
  return static_cast<uint16_t>(sum);
}

size_t Count(const TVirtualDrive& drive, TCommandKind kind) {
  return static_cast<size_t>(
      std::count_if(drive.History().begin(), drive.History().end(),
                    [&](const TCommandRecord& r) { return r.kind == kind; }));
}

struct TCase {
  const char* profile;
  const char* lastLine;  // the run's final log line
  bool flashed;          // the flash now holds the image
};

void PrintTo(const TCase& c, std::ostream* os) {
  *os << c.profile;
}

class FlashRuns : public ::testing::TestWithParam<TCase> {};

TEST_P(FlashRuns, EndsAsTheDriveDictates) {
  const TCase& c = GetParam();
  TRun run(c.profile, true);
  ASSERT_EQ(run.state.items.size(), 1u);
  run.engine->BitBtn2Click();
  ASSERT_FALSE(run.ui.lines.empty());
  EXPECT_EQ(run.ui.lines.back(), c.lastLine);
  TVirtualDrive& drive = run.bus.Drive(0);
  const TImageHeader header = EmbeddedImage().Header();
  if (c.flashed) {
    EXPECT_EQ(FlashSum(drive, header), header.Checksum);
  } else {
    EXPECT_NE(FlashSum(drive, header), header.Checksum);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, FlashRuns,
    ::testing::Values(
        TCase{"default", "Firmware Verify ok!!", true},
        TCase{"normal-mode", "Firmware Verify ok!!", true},
        TCase{"commit-illegal", "Firmware Verify ok!!", true},
        TCase{"commit-paramlen", "Firmware Verify ok!!", true},
        TCase{"no-medium", "Firmware Verify ok!!", true},
        TCase{"commit-unit-attention", "Err:Flash Fail!!", false},
        TCase{"never-ready", "Err:Flash Fail!!", true},
        TCase{"other-family", "Err:The firmware is not support this device!!(4)", false},
        TCase{"no-marker", "This firmware isn't support !!(10)", false},
        TCase{"bad-verify", "Err:Verify NG !!", false},
        TCase{"unsupported", "Err:The firmware is not support this device!!(7)", false},
        // Answers every vendor command GOOD with zeroes: the missing marker stops it.
        TCase{"lenient", "This firmware isn't support !!(10)", false}),
    [](const auto& info) {
      std::string name = info.param.profile;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(FlashRunDetails, DefaultDriveNeedsItsPatchRegionRefreshedAndRunsOnVirtualTime) {
  TRun run("default", true);
  run.engine->BitBtn2Click();
  ASSERT_TRUE(run.engine->LastRunVerified());
  const TVirtualDrive& drive = run.bus.Drive(0);
  EXPECT_GT(Count(drive, TCommandKind::WritePatch), 0u);
  EXPECT_EQ(Count(drive, TCommandKind::FlashDownload), 8u);
  // 2 s before the download, the programming time, 5 s before the read-back.
  EXPECT_GE(run.clock.ElapsedMs(), 7000u + drive.Profile().programmingTimeMs);
  EXPECT_LT(run.clock.ElapsedMs(), 20000u);
}

TEST(FlashRunDetails, CommitRetriesGoThroughTheirSelectors) {
  TRun run("commit-paramlen", true);
  run.engine->BitBtn2Click();
  std::vector<uint8_t> selectors;
  for (const TCommandRecord& r : run.bus.Drive(0).History()) {
    if (r.kind == TCommandKind::FlashCommit || r.kind == TCommandKind::FlashRetry) {
      selectors.push_back(r.cdb[7]);
    }
  }
  EXPECT_EQ(selectors, (std::vector<uint8_t>{0xE8, 0xE8, 0xF8}));
}

TEST(FlashRunDetails, LegacyModelOffTheListIsStoppedByTheFamilyGate) {
  TRun run("legacy-unlisted", true);
  EXPECT_TRUE(run.state.items.empty());  // not the image's model: not listed
  EXPECT_FALSE(run.engine->FamilyGate());
  EXPECT_EQ(run.ui.lines.back(), "Err: Cannot update this device use this update file!!");
}

// Descriptors that name a bank past the eighth or a region running past the bank: the
// refresh must neither read nor write outside its buffers, and the drive's flash outside
// its banks is never reached.
TEST(FlashRunDetails, HostilePatchDescriptorsLeaveTheRunSafe) {
  const std::vector<std::vector<uint8_t>> descriptors = {
      {0x55, 0xDD, 0, 0, 0x09, 0x00, 0x00, 0x01, 0x00},  // bank 9
      {0x55, 0xDD, 0, 0, 0x07, 0xFF, 0x80, 0x02, 0x00},  // runs past the bank end
      {0x55, 0xDD, 0, 0, 0x00, 0x00, 0x10, 0xFF, 0xFF},  // oversized length
  };
  for (const auto& d : descriptors) {
    TRun run("default", true);
    run.bus.Drive(0).InjectFault(TFault::Hostile(TCommandKind::ReadPatchInfo, d));
    EXPECT_TRUE(run.engine->RefreshPatchRegion());
    for (const TCommandRecord& r : run.bus.Drive(0).History()) {
      if (r.kind == TCommandKind::WritePatch || r.kind == TCommandKind::ReadMemory) {
        EXPECT_LT(r.cdb[r.kind == TCommandKind::WritePatch ? 7 : 9], 8);
      }
    }
  }
}

TEST(FlashRunDetails, DefaultDriveFlashesOverAspiToo) {
  TRun run("default", false);
  run.engine->BitBtn2Click();
  EXPECT_EQ(run.ui.lines.back(), "Firmware Verify ok!!");
}

}  // namespace
}  // namespace tavo
