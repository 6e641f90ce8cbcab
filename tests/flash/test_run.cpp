// The flash run as "&Start" drives it: every way out, the lines it leaves, the controls it
// locks and gives back, and what carries over between runs.
#include <algorithm>

#include "tests/support/flash_fixture.h"

namespace tavo::test {
namespace {

using ::testing::ElementsAre;

const std::vector<std::string> kLocking = {"enable:SelDevice=0", "enable:BitBtn2=0",
                                           "enable:BitBtn3=0",   "enable:SelDevice=1",
                                           "enable:BitBtn2=1",   "enable:BitBtn3=1"};

class RunTest : public FlashTest {
 protected:
  void ExpectControlsGivenBack() {
    EXPECT_EQ(ui_.EventsStarting("enable:"), kLocking);
    EXPECT_FALSE(engine_->Running());
  }
};

TEST_F(RunTest, SuccessfulRunLogsTheSuccessLinesThenAsksToRestart) {
  Attach("default");
  StartUp();
  ASSERT_EQ(state_.edit1, "TAVO    QRD-1040C       1.08");
  ui_.rebootAnswer = false;
  engine_->BitBtn2Click();

  EXPECT_THAT(ui_.logs, ElementsAre("Flashing ..", "Flash Complete!!", "Firmware Verify ok!!"));
  EXPECT_TRUE(engine_->LastRunVerified());
  ExpectControlsGivenBack();
  // The run itself asks nothing: the front end asks once it has let go of the drive.
  EXPECT_TRUE(ui_.EventsStarting("ask").empty());
  engine_->OfferReboot();
  EXPECT_EQ(ui_.EventsStarting("ask").size(), 1u);
  EXPECT_TRUE(ui_.EventsStarting("reboot").empty());
  // The drive was quieted before anything else.
  const std::vector<TCommandKind> kinds = Kinds();
  ASSERT_GE(kinds.size(), 2u);
  EXPECT_EQ(kinds[0], TCommandKind::StopPlayScan);
  EXPECT_EQ(kinds[1], TCommandKind::StartStopUnit);
  // The drive holds the image now: each bank's sum over its length is the image's.
  uint32_t total = 0;
  for (unsigned b = 0; b < 8; ++b) total += FlashBankSum(Drive(), b, state_.header.BankLength[b]);
  EXPECT_EQ(total & 0xFFFF, 0xA8B4u);
}

TEST_F(RunTest, RestartIsRequestedOnlyWhenTheUserChoosesOk) {
  Attach("default");
  StartUp();
  ui_.rebootAnswer = true;
  engine_->BitBtn2Click();
  engine_->OfferReboot();
  EXPECT_THAT(ui_.EventsStarting("ask"), ElementsAre("ask"));
  EXPECT_THAT(ui_.EventsStarting("reboot"), ElementsAre("reboot"));
  ExpectControlsGivenBack();
}

TEST_F(RunTest, ProgressThroughASuccessfulRun) {
  Attach("normal-mode");
  StartUp();
  engine_->BitBtn2Click();
  // Up to the download: 10, 20 from the handler; the marker search moves the bar over
  // its own range; then FlashImage: 0, range 0-100, 20, one step per bank, 70, 80, 100.
  const std::vector<std::string>& ev = ui_.events;
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[0], "enable:SelDevice=0");
  EXPECT_EQ(ev[1], "repaint:SelDevice");
  EXPECT_EQ(ev[2], "progress:10");
  EXPECT_EQ(ev[3], "progress:20");
  auto it = std::find(ev.begin(), ev.end(), "log:Flashing ..");
  ASSERT_NE(it, ev.end());
  std::vector<std::string> flash;
  for (auto e = it - 3; e != ev.end() && *e != "log:Flash Complete!!"; ++e) {
    if (e->rfind("progress:", 0) == 0 || e->rfind("range:", 0) == 0) flash.push_back(*e);
  }
  EXPECT_THAT(flash,
              ElementsAre("progress:0", "range:0-100", "progress:20", "progress:10", "progress:20",
                          "progress:30", "progress:40", "progress:50", "progress:60", "progress:70",
                          "progress:80", "progress:70", "progress:80", "progress:100"));
  // The read-back re-ranges per bank and leaves the last bank's range.
  const std::vector<std::string> ranges = ui_.EventsStarting("range:");
  ASSERT_GE(ranges.size(), 9u);
  EXPECT_EQ(ranges.back(), "range:0-64640");  // FC80h
}

TEST_F(RunTest, EmptyIdentityLogsFileErrorAndTouchesNothing) {
  Attach("default");
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  input.Banks = {std::vector<uint8_t>(0x100, 0x11)};  // no template anywhere
  TTestImage image = PackImage(input);
  StartUp(image.image.get());
  ASSERT_TRUE(state_.edit1.empty());
  engine_->BitBtn2Click();
  EXPECT_THAT(ui_.events, ElementsAre("log:Err:File Error !!"));
  EXPECT_TRUE(Drive().History().empty());
}

TEST_F(RunTest, InvalidContainerLeavesNoIdentitySoStartRefuses) {
  Attach("default");
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  std::vector<uint8_t> bank0(0x200, 0);
  PutTemplate(bank0, 0x10, "TAVO    QRD-1040C       1.08");
  input.Banks = {bank0};
  TTestImage image = PackImage(input);
  image.bytes.resize(image.bytes.size() - 1);  // shorter than its bank needs
  TFirmwareImage truncated{std::span<const uint8_t>(image.bytes)};
  ASSERT_FALSE(truncated.Valid());
  engine_ = std::make_unique<TFlashEngine>(state_, *atapi_, truncated, ui_, clock_);
  engine_->CopyHeader();
  engine_->BitBtn1Click();
  EXPECT_THAT(ui_.logs, ElementsAre(truncated.CheckError()));
  EXPECT_TRUE(state_.edit1.empty());
  engine_->FillDriveList();
  EXPECT_TRUE(state_.items.empty());
  ui_.Clear();
  engine_->BitBtn2Click();
  EXPECT_THAT(ui_.logs, ElementsAre("Err:File Error !!"));
}

struct TFailingRun {
  std::string profile;
  std::vector<std::string> logs;
};

class FailingRunTest : public RunTest, public ::testing::WithParamInterface<TFailingRun> {};

TEST_P(FailingRunTest, EndsWithTheStepsLinesAndTheControlsEnabled) {
  const TFailingRun& c = GetParam();
  Attach(c.profile);
  StartUp();
  SelectRow(0);  // also drives whose identity the list would not show
  engine_->BitBtn2Click();
  EXPECT_EQ(ui_.logs, c.logs);
  EXPECT_TRUE(ui_.EventsStarting("ask").empty());
  EXPECT_FALSE(engine_->LastRunVerified());
  ExpectControlsGivenBack();
}

INSTANTIATE_TEST_SUITE_P(
    EveryWayOut, FailingRunTest,
    ::testing::Values(
        TFailingRun{"legacy-unlisted", {"Err: Cannot update this device use this update file!!"}},
        TFailingRun{"other-family", {"Err:The firmware is not support this device!!(4)"}},
        TFailingRun{"no-marker", {"This firmware isn't support !!(10)"}},
        TFailingRun{"unsupported",
                    {"Flashing ..", "Status:0x2 ; Err:Flash command(W) has problems.",
                     "Err:The firmware is not support this device!!(7)"}},
        TFailingRun{"commit-unit-attention",
                    {"Flashing ..", "Status:2;SenseCode:6 : 29 : 0;", "Err:Flash Fail.",
                     "Err:Flash Fail!!"}},
        TFailingRun{"never-ready",
                    {"Flashing ..", "Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;",
                     "Err:Flash error,time out 120 Sec", "Err:Flash Fail!!"}},
        TFailingRun{"bad-verify", {"Flashing ..", "Flash Complete!!", "Err:Verify NG !!"}}),
    [](const ::testing::TestParamInfo<TFailingRun>& info) {
      std::string name = info.param.profile;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST_F(RunTest, ModelMismatchIsRefusedWithoutErrPrefix) {
  TDriveProfile other = *FindProfile("default");
  other.product = "QRD-1150C       ";  // on the legacy list, but not the image's model
  Attach({other});
  StartUp();
  SelectRow(0);
  engine_->BitBtn2Click();
  EXPECT_THAT(ui_.logs, ElementsAre("The Firmware isn't support this device !!(3)"));
  ExpectControlsGivenBack();
}

TEST_F(RunTest, MemoryShortageInThePatchRefreshStopsTheRun) {
  Attach("default");
  StartUp();
  engine_->SimulateAllocationFailure(1);
  engine_->BitBtn2Click();
  EXPECT_THAT(ui_.logs, ElementsAre("Err:Memory allocation"));
  EXPECT_TRUE(Commands(TCommandKind::ReadPatchInfo).empty());
  ExpectControlsGivenBack();
}

TEST_F(RunTest, SpecialModelFlagStaysSetForLaterRunsOnOtherDrives) {
  TDriveProfile special = *FindProfile("no-marker");  // QRD-1040C without a marker
  TDriveProfile other = *FindProfile("no-marker");
  other.product = "QRD-1150C       ";
  Attach({other, special, other});
  StartUp();
  // An image of the other model that carries the design marker.
  state_.edit1 = "TAVO    QRD-1150C       1.08";
  state_.imageHasDesignMarker = 1;
  SelectRow(0);
  engine_->BitBtn2Click();
  // Not the special model yet: no marker search, the run reaches the download.
  EXPECT_EQ(state_.selectedIsSpecialModel, 0);
  EXPECT_TRUE(Commands(TCommandKind::ReadFirmware, 0).empty());
  EXPECT_EQ(ui_.logs.front(), "Flashing ..");

  SelectRow(1);
  ui_.Clear();
  engine_->BitBtn2Click();  // fails the model check, but the flag is set first
  EXPECT_EQ(state_.selectedIsSpecialModel, 1);
  EXPECT_THAT(ui_.logs, ElementsAre("The Firmware isn't support this device !!(3)"));

  SelectRow(2);  // the first run left the image (and its marker) in drive 0
  ui_.Clear();
  engine_->BitBtn2Click();
  EXPECT_THAT(ui_.logs, ElementsAre("This firmware isn't support !!(10)"));
  EXPECT_EQ(Commands(TCommandKind::ReadFirmware, 2).size(), 1u);
}

}  // namespace
}  // namespace tavo::test
