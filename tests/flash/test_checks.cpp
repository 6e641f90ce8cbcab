// The identity gates, the design-marker search and the patch-region refresh.
#include <algorithm>
#include <cstring>

#include "flash/drive_check.h"
#include "tests/support/flash_fixture.h"

namespace tavo::test {
namespace {

using ::testing::ElementsAre;

class ChecksTest : public FlashTest {};

TDriveProfile Legacy(const std::string& vendor, const std::string& product,
                     std::array<uint8_t, 2> family = {'W', '0'}) {
  TDriveProfile p = *FindProfile("default");
  p.vendor = vendor;
  p.product = product;
  p.family = family;
  return p;
}

TEST_F(ChecksTest, FamilyGateOnLegacyAndOtherFamilies) {
  struct TCase {
    TDriveProfile drive;
    bool passes;
    std::vector<std::string> logs;
    size_t inquiries;
  };
  const std::string notListed = "Err: Cannot update this device use this update file!!";
  const std::string family4 = "Err:The firmware is not support this device!!(4)";
  const std::vector<TCase> cases = {
      // Listed legacy model: passes whatever the image family is ("T7").
      {Legacy("TAVO    ", "QRD-1040C       "), true, {}, 1},
      // Only nine product characters take part.
      {Legacy("TAVO    ", "QRD-0710CXYZ    "), true, {}, 1},
      // Vendor compared in full, blanks included.
      {Legacy("TAVO   X", "QRD-1040C       "), false, {notListed}, 1},
      {Legacy("tavo    ", "QRD-1040C       "), false, {notListed}, 1},
      // Not legacy: "W1" and "w0" go through the family comparison.
      {Legacy("TAVO    ", "QRD-1040C       ", {'W', '1'}), false, {family4}, 2},
      {Legacy("TAVO    ", "QRD-1040C       ", {'w', '0'}), false, {family4}, 2},
      {Legacy("TAVO    ", "QRD-1040C       ", {'T', '7'}), true, {}, 2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.drive.vendor + c.drive.product + char(c.drive.family[0]) +
                 char(c.drive.family[1]));
    ui_.Clear();
    state_ = TFlashState{};
    Attach({c.drive});
    StartUp();
    EXPECT_EQ(engine_->FamilyGate(), c.passes);
    EXPECT_EQ(ui_.logs, c.logs);
    EXPECT_EQ(Commands(TCommandKind::Inquiry).size(), c.inquiries);
  }
}

TEST_F(ChecksTest, FailedInquiryReadsAsFamilyZero) {
  Attach("default");
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::Inquiry, {0x02, 0x04, 0x00}, 2));
  EXPECT_FALSE(engine_->FamilyGate());
  EXPECT_THAT(ui_.logs, ElementsAre("Err:The firmware is not support this device!!(4)"));
}

TEST_F(ChecksTest, CheckModelComparesVendorAndProductOnly) {
  TDriveProfile newer = *FindProfile("default");
  newer.revision = "9.99";
  Attach({newer});
  StartUp();
  ASSERT_EQ(state_.items.size(), 1u);
  EXPECT_TRUE(engine_->CheckModel());
  // A drive identity that ends early fails against the full image identity.
  TDriveProfile shorter = *FindProfile("default");
  shorter.product = std::string("QRD-1040C") + '\0' + "      ";
  Attach({shorter});
  StartUp();
  SelectRow(0);
  ASSERT_EQ(std::strlen(atapi_->Drive(0).Identity), 17u);
  EXPECT_FALSE(engine_->CheckModel());
  EXPECT_THAT(ui_.logs, ElementsAre("The Firmware isn't support this device !!(3)"));
}

TEST_F(ChecksTest, ItemWithoutAMapSlotNamesNoDrive) {
  Attach("default");
  StartUp();
  ASSERT_EQ(state_.items.size(), 1u);
  // A list longer than the ten map slots: the eleventh item stands for no drive.
  state_.items.assign(11, state_.items[0]);
  state_.selectedItem = 10;
  EXPECT_FALSE(engine_->CheckModel());
  EXPECT_THAT(ui_.logs, ElementsAre("The Firmware isn't support this device !!(3)"));
}

class MarkerTest : public ChecksTest {
 protected:
  void WithMarker(const std::string& text, uint32_t offset) {
    TDriveProfile p = *FindProfile("default");
    p.marker = text;
    p.markerOffset = offset;
    Attach({p});
    StartUp();
  }
};

TEST_F(MarkerTest, DesignMarkerAtZeroIsFoundAtOnce) {
  WithMarker("Tavonix Design", 0);
  EXPECT_TRUE(engine_->CheckDesignMarker());
  EXPECT_THAT(ui_.progress, ElementsAre(0));
  EXPECT_THAT(ui_.EventsStarting("range:"), ElementsAre("range:0-65533"));
  const auto reads = Commands(TCommandKind::ReadFirmware);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].length, 0xFFFEu);
}

TEST_F(MarkerTest, EitherMarkerIsFoundAtAnyPositionUpToTheLastThatFits) {
  for (auto [text, offset] :
       std::vector<std::pair<std::string, uint32_t>>{{"Tavonix ODD", 0x1235},
                                                     {"Tavonix Design", 0x7777},
                                                     {"Tavonix Design", 65506},
                                                     {"Tavonix ODD", 65512}}) {
    SCOPED_TRACE(text + " at " + std::to_string(offset));
    ui_.Clear();
    WithMarker(text, offset);
    EXPECT_TRUE(engine_->CheckDesignMarker());
    EXPECT_EQ(ui_.progress.back(), static_cast<int>(offset));
    EXPECT_EQ(ui_.pumps, static_cast<int>(offset) + 1);  // one pass before every position
  }
}

TEST_F(MarkerTest, EightBitTextOrNoMarkerFails) {
  WithMarker("", 0);
  const std::string ascii = "Tavonix Design";
  Drive().InjectFault(TFault::Hostile(TCommandKind::ReadFirmware,
                                      std::vector<uint8_t>(ascii.begin(), ascii.end()), 0x301));
  EXPECT_FALSE(engine_->CheckDesignMarker());
  EXPECT_THAT(ui_.logs, ElementsAre("This firmware isn't support !!(10)"));
  EXPECT_EQ(ui_.progress.back(), 65533);
}

TEST_F(MarkerTest, FailedFirmwareReadFindsNothing) {
  WithMarker("Tavonix ODD", 0x10);
  Drive().InjectFault(TFault::Check(TCommandKind::ReadFirmware, {0x05, 0x24, 0x00}));
  EXPECT_FALSE(engine_->CheckDesignMarker());
  EXPECT_THAT(ui_.logs, ElementsAre("This firmware isn't support !!(10)"));
}

// ---- Patch region

class PatchTest : public ChecksTest {
 protected:
  static constexpr uint16_t kStart = 0x0400;

  void WithDescriptor(uint8_t bank, uint16_t start, uint16_t length) {
    TDriveProfile p = *FindProfile("default");
    p.patchDescriptor = Descriptor(bank, start, length);
    Attach({p});
    StartUp();
  }
  static std::array<uint8_t, 9> Descriptor(uint8_t bank, uint16_t start, uint16_t length) {
    return {0x55,
            0xDD,
            0xAB,
            0xCD,
            bank,
            uint8_t(start >> 8),
            uint8_t(start & 0xFF),
            uint8_t(length >> 8),
            uint8_t(length & 0xFF)};
  }
  // Replace the drive's descriptor for the next refresh.
  void NextDescriptor(uint8_t bank, uint16_t start, uint16_t length) {
    const auto d = Descriptor(bank, start, length);
    Drive().InjectFault(TFault::Hostile(TCommandKind::ReadPatchInfo,
                                        std::vector<uint8_t>(d.begin(), d.end()), 0, 1));
  }
  std::vector<uint32_t> Offsets(TCommandKind kind) {
    std::vector<uint32_t> out;
    for (const TCommandRecord& r : Commands(kind)) {
      out.push_back(kind == TCommandKind::ReadMemory ? (r.cdb[6] << 8 | r.cdb[7])
                                                     : (r.cdb[8] << 8 | r.cdb[9]));
    }
    return out;
  }
  // The image's plain bank 0 bytes [from, to) equal the drive's flash there.
  bool DriveHoldsImage(uint32_t from, uint32_t to) {
    std::vector<uint8_t> plain(65536, 0);
    EmbeddedImage().StageBank(0, plain.data());
    Descramble(plain.data(), state_.header.BankLength[0], 1);
    return std::equal(plain.begin() + from, plain.begin() + to, Drive().Flash().begin() + from);
  }
};

TEST_F(PatchTest, DifferingRegionIsRewrittenWholeInBlocksOf128) {
  WithDescriptor(0, kStart, 384);
  ASSERT_FALSE(DriveHoldsImage(kStart, kStart + 384));
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(Offsets(TCommandKind::ReadMemory), ElementsAre(kStart));  // first block differs
  EXPECT_THAT(Offsets(TCommandKind::WritePatch), ElementsAre(kStart, kStart + 128, kStart + 256));
  for (const TCommandRecord& w : Commands(TCommandKind::WritePatch)) {
    EXPECT_EQ(w.cdb[11], 128);
    EXPECT_EQ(w.length, 128u);
  }
  EXPECT_TRUE(DriveHoldsImage(kStart, kStart + 384));
  EXPECT_TRUE(ui_.logs.empty());

  // Now equal: two reads (256 and 128 bytes compared), nothing written.
  Drive().ClearHistory();
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(Offsets(TCommandKind::ReadMemory), ElementsAre(kStart, kStart + 256));
  EXPECT_TRUE(Commands(TCommandKind::WritePatch).empty());
}

TEST_F(PatchTest, SecondBlockDifferingRewritesFromTheStart) {
  WithDescriptor(0, kStart, 384);
  NextDescriptor(0, kStart, 256);  // first make the first 256 bytes equal
  engine_->RefreshPatchRegion();
  ASSERT_TRUE(DriveHoldsImage(kStart, kStart + 256));
  ASSERT_FALSE(DriveHoldsImage(kStart + 256, kStart + 384));
  Drive().ClearHistory();
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(Offsets(TCommandKind::ReadMemory), ElementsAre(kStart, kStart + 256));
  EXPECT_THAT(Offsets(TCommandKind::WritePatch), ElementsAre(kStart, kStart + 128, kStart + 256));
  EXPECT_TRUE(DriveHoldsImage(kStart, kStart + 384));
}

TEST_F(PatchTest, RegionOf200BytesIsWrittenInTwoFullBlocks) {
  WithDescriptor(0, kStart, 200);
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(Offsets(TCommandKind::WritePatch), ElementsAre(kStart, kStart + 128));
  // The second block carries the image bytes that follow the region too.
  EXPECT_TRUE(DriveHoldsImage(kStart, kStart + 256));
}

TEST_F(PatchTest, FailedReadOrEmptyRegionWritesNothing) {
  WithDescriptor(0, kStart, 384);
  Drive().InjectFault(TFault::Check(TCommandKind::ReadMemory, {0x05, 0x21, 0x00}));
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_EQ(Commands(TCommandKind::ReadMemory).size(), 1u);
  EXPECT_TRUE(Commands(TCommandKind::WritePatch).empty());

  Drive().ClearHistory();
  NextDescriptor(0, kStart, 0);
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(Kinds(), ElementsAre(TCommandKind::ReadPatchInfo));
  EXPECT_TRUE(ui_.logs.empty());
}

TEST_F(PatchTest, Bank7IsAcceptedBank8EndsSilently) {
  WithDescriptor(7, 0x1000, 128);
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  const auto reads = Commands(TCommandKind::ReadMemory);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].cdb[9], 7);

  Drive().ClearHistory();
  NextDescriptor(8, 0x1000, 128);
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(Kinds(), ElementsAre(TCommandKind::ReadPatchInfo));
  EXPECT_TRUE(ui_.logs.empty());
}

TEST_F(PatchTest, RefusedDescriptorRequestEndsTheRefresh) {
  WithDescriptor(0, kStart, 384);
  Drive().InjectFault(TFault::Refuse(TCommandKind::ReadPatchInfo, EIO + 1000));
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_TRUE(Commands(TCommandKind::ReadMemory).empty());
  EXPECT_TRUE(Commands(TCommandKind::WritePatch).empty());
}

TEST_F(PatchTest, HostileRegionsAreIgnoredWithOneLine) {
  struct TCase {
    uint16_t start, length;
    std::string line;
  };
  const std::vector<TCase> cases = {
      {0xFF80, 0x100,
       "Patch region ignored: bank 0, offset 0xff80, length 0x100 lies outside the image."},
      // Unaligned start: the last 128-byte block would pass the bank's end.
      {0xFF90, 0x10,
       "Patch region ignored: bank 0, offset 0xff90, length 0x10 lies outside the image."},
      {0x0080, 0xFFFF,
       "Patch region ignored: bank 0, offset 0x80, length 0xffff lies outside the image."},
  };
  WithDescriptor(0, kStart, 0);
  for (const TCase& c : cases) {
    ui_.Clear();
    Drive().ClearHistory();
    NextDescriptor(0, c.start, c.length);
    EXPECT_TRUE(engine_->RefreshPatchRegion());
    EXPECT_THAT(ui_.logs, ElementsAre(c.line));
    EXPECT_THAT(Kinds(), ElementsAre(TCommandKind::ReadPatchInfo));
  }
  // The last block may end exactly at the bank's end.
  ui_.Clear();
  Drive().ClearHistory();
  NextDescriptor(0, 0xFF80, 0x80);
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_TRUE(ui_.logs.empty());
  EXPECT_THAT(Offsets(TCommandKind::ReadMemory), ElementsAre(0xFF80));
}

TEST_F(PatchTest, StagedBankIsDescrambledUnlessTheFlagIs00hOr20h) {
  std::vector<uint8_t> plain(0x400);
  plain[0] = 0x5A;  // a scrambled bank always descrambles to the seed offset here
  for (size_t i = 1; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::vector<std::pair<uint8_t, bool>> cases = {
      {0x02, true}, {0x01, true}, {0x20, false}, {0x00, false}};
  for (auto [flag, scrambled] : cases) {
    SCOPED_TRACE("scramble flag " + std::to_string(flag));
    pack::TPackInput input;
    input.ScrambleFlag = flag;
    input.ScrambleBanks = scrambled;
    input.Banks = {plain};
    TTestImage image = PackImage(input);
    TDriveProfile p = *FindProfile("default");
    p.patchDescriptor = Descriptor(0, 0x100, 0x100);
    Attach({p});
    StartUp(image.image.get());
    ASSERT_FALSE(
        std::equal(plain.begin() + 0x100, plain.begin() + 0x200, Drive().Flash().begin() + 0x100));
    EXPECT_TRUE(engine_->RefreshPatchRegion());
    EXPECT_EQ(Commands(TCommandKind::WritePatch).size(), 2u);
    EXPECT_TRUE(
        std::equal(plain.begin() + 0x100, plain.begin() + 0x200, Drive().Flash().begin() + 0x100));
  }
}

TEST_F(PatchTest, BankBeyondTheImagesBankCountIsIgnored) {
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  std::vector<uint8_t> bank0(0x800, 0x33);
  PutTemplate(bank0, 0x40, "TAVO    QRD-1040C       1.08");
  input.Banks = {bank0, std::vector<uint8_t>(0x800, 0x44)};
  TTestImage image = PackImage(input);
  TDriveProfile p = *FindProfile("default");
  p.patchDescriptor = Descriptor(3, 0x100, 0x80);
  Attach({p});
  StartUp(image.image.get());
  EXPECT_TRUE(engine_->RefreshPatchRegion());
  EXPECT_THAT(ui_.logs, ElementsAre("Patch region ignored: bank 3, offset 0x100, length 0x80 "
                                    "lies outside the image."));
  EXPECT_THAT(Kinds(), ElementsAre(TCommandKind::ReadPatchInfo));
}

}  // namespace
}  // namespace tavo::test

namespace tavo::test {
namespace {

// The read-only check and a run must come to the same verdict on every drive, also on one
// whose design marker lies in the patch region the run rewrites before it searches.
TEST(CheckAgreesWithRun, OnEveryProfileAndAMarkerInsideThePatchRegion) {
  std::vector<TDriveProfile> drives;
  for (const std::string& name : ProfileNames()) drives.push_back(*FindProfile(name));
  TDriveProfile inPatch = *FindProfile("default");
  inPatch.name = "marker-in-patch-region";
  inPatch.markerOffset = 0x0410;  // the region is 0400h-057Fh of bank 0
  drives.push_back(inPatch);

  for (const TDriveProfile& drive : drives) {
    SCOPED_TRACE(drive.name);
    TDriveVerdict verdict;
    {
      // One drive session at a time: the check's ends before the run's begins.
      TVirtualRig checked;
      checked.Attach({drive});
      const TCheckReport report = CheckDrives(*checked.atapi, EmbeddedImage(), checked.clock);
      ASSERT_EQ(report.drives.size(), 1u);
      verdict = report.drives[0];
      EXPECT_TRUE(checked.Commands(TCommandKind::WritePatch).empty());
    }
    if (verdict.listIndex < 0) continue;  // not offered for a run at all

    TVirtualRig run;
    run.Attach({drive});
    run.StartUp();
    run.engine->BitBtn2Click();
    const bool pastChecks =
        std::find(run.ui.logs.begin(), run.ui.logs.end(), "Flashing ..") != run.ui.logs.end();
    EXPECT_EQ(verdict.passes, pastChecks) << verdict.stopLine;
    if (!verdict.passes) {
      EXPECT_THAT(run.ui.logs, ::testing::Contains(verdict.stopLine));
    }
  }
}

}  // namespace
}  // namespace tavo::test
