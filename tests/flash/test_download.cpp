// Bank download, commit, retries and the readiness poll, and the read-back verification,
// checked against what the virtual drive received.
#include <cerrno>

#include "tests/support/flash_fixture.h"

namespace tavo::test {
namespace {

using ::testing::ElementsAre;

struct TWrite {
  uint8_t mode;
  uint8_t selector;
  uint16_t length;
  uint16_t value;
  bool operator==(const TWrite&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TWrite& w) {
  return os << "{mode " << int(w.mode) << ", sel 0x" << std::hex << int(w.selector) << ", len 0x"
            << w.length << ", value 0x" << w.value << std::dec << "}";
}

class DownloadTest : public FlashTest {
 protected:
  std::vector<TWrite> Writes(int k = 0) {
    std::vector<TWrite> out;
    for (const TCommandRecord& r : Drive(k).History()) {
      if (r.kind != TCommandKind::FlashDownload && r.kind != TCommandKind::FlashCommit &&
          r.kind != TCommandKind::FlashRetry) {
        continue;
      }
      out.push_back({r.cdb[6], r.cdb[7], static_cast<uint16_t>(r.cdb[8] << 8 | r.cdb[9]),
                     static_cast<uint16_t>(r.cdb[10] << 8 | r.cdb[11])});
    }
    return out;
  }
  // Commands from the commit on, as kinds.
  std::vector<TCommandKind> KindsFromCommit(int k = 0) {
    std::vector<TCommandKind> all = Kinds(k);
    auto it = std::find(all.begin(), all.end(), TCommandKind::FlashCommit);
    return std::vector<TCommandKind>(it, all.end());
  }
};

TEST_F(DownloadTest, FullBankModeSendsFixedLengthsThenCommitsWithE8) {
  Attach("default");
  StartUp();
  ASSERT_TRUE(engine_->FlashImage());
  EXPECT_THAT(
      Writes(),
      ElementsAre(TWrite{5, 0, 0xFFFE, 0}, TWrite{5, 1, 0xF000, 0}, TWrite{5, 2, 0xF000, 0},
                  TWrite{5, 3, 0xFFFE, 0}, TWrite{5, 4, 0xFFFE, 0}, TWrite{5, 5, 0xFFFE, 0},
                  TWrite{5, 6, 0xFFFE, 0}, TWrite{5, 7, 0xFFFE, 0}, TWrite{4, 0xE8, 0, 0xA8B4}));
  // The 2 s pause comes before the first bank.
  const auto downloads = Commands(TCommandKind::FlashDownload);
  const auto caps = Commands(TCommandKind::ModeSense);
  ASSERT_EQ(caps.size(), 1u);
  EXPECT_GE(downloads.front().timeMs - caps.front().timeMs, 2000u);
  // Bank 1's 16 drive bytes at E000h were read first and written back unchanged; the
  // rest beyond each bank's length is zero.
  const std::vector<uint8_t>& flash = Drive().Flash();
  const auto reads = Commands(TCommandKind::ReadMemory);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].cdb[9], 1);
  EXPECT_EQ(reads[0].cdb[6], 0xE0);
  EXPECT_EQ(reads[0].cdb[7], 0x00);
  for (uint32_t b : {0u, 7u}) {
    const uint32_t len = state_.header.BankLength[b];
    for (uint32_t i = len + 8; i < 0xFFFE; i += 997) {
      ASSERT_EQ(flash[b * 65536 + i], 0) << "bank " << b << " offset " << i;
    }
  }
  EXPECT_EQ(FlashBankSum(Drive(), 7, 0xFC80),
            FlashBankSum(Drive(), 7, 0xFFFE));  // nothing but zeros after FC80h
}

TEST_F(DownloadTest, NormalModeSendsEachBanksOwnLength) {
  Attach("normal-mode");
  StartUp();
  ASSERT_TRUE(engine_->FlashImage());
  std::vector<TWrite> expected;
  for (uint8_t b = 0; b < 8; ++b) expected.push_back({5, b, state_.header.BankLength[b], 0});
  expected.push_back({4, 0xE8, 0, 0xA8B4});
  EXPECT_EQ(Writes(), expected);
  EXPECT_EQ(Writes()[7].length, 0xFC80);                     // above 7FFFh, sent in full
  EXPECT_EQ(Commands(TCommandKind::ReadMemory).size(), 1u);  // read in both modes
}

TEST_F(DownloadTest, FailedCapabilitiesRequestMeansNormalMode) {
  Attach("default");  // its page would select full-bank mode
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::ModeSense, {0x05, 0x24, 0x00}));
  ASSERT_TRUE(engine_->FlashImage());
  EXPECT_EQ(Writes()[0], (TWrite{5, 0, 0xBEF0, 0}));
}

TEST_F(DownloadTest, RefusedReadOfBank1StopsWithLine11) {
  Attach("normal-mode");
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::ReadMemory, {0x05, 0x21, 0x00}));
  EXPECT_FALSE(engine_->FlashImage());
  EXPECT_THAT(ui_.logs,
              ElementsAre("Flashing ..", "Err:The firmware is not support this device!!(11)",
                          "Err:Flash Fail!!"));
  EXPECT_THAT(Writes(), ElementsAre(TWrite{5, 0, 0xBEF0, 0}));  // bank 1 never sent
}

TEST_F(DownloadTest, IllegalRequestRetryOnPassThroughSkipsTestUnitReady) {
  Attach("commit-illegal");
  StartUp();
  ASSERT_TRUE(engine_->FlashImage());
  EXPECT_THAT(Writes(), ::testing::Contains(TWrite{4, 0xE8, 0, 0xA8B4}));
  const std::vector<TWrite> w = Writes();
  EXPECT_EQ(w.back(), (TWrite{5, 0xE8, 0, 0xA8B4}));
  const std::vector<TCommandKind> k = KindsFromCommit();
  ASSERT_GE(k.size(), 3u);
  EXPECT_EQ(k[1], TCommandKind::FlashRetry);
  EXPECT_EQ(k[2], TCommandKind::TestUnitReady);  // the poll
  const auto retry = Commands(TCommandKind::FlashRetry);
  const auto polls = Commands(TCommandKind::TestUnitReady);
  EXPECT_GE(polls.front().timeMs - retry.front().timeMs, 15000u);
}

TEST_F(DownloadTest, IllegalRequestRetryOnAspiSendsTestUnitReadyFirst) {
  Attach("commit-illegal", /*aspi=*/true);
  StartUp();
  ASSERT_TRUE(engine_->FlashImage()) << ::testing::PrintToString(ui_.logs);
  const std::vector<TCommandKind> k = KindsFromCommit();
  ASSERT_GE(k.size(), 3u);
  EXPECT_EQ(k[1], TCommandKind::TestUnitReady);
  EXPECT_EQ(k[2], TCommandKind::FlashRetry);
}

TEST_F(DownloadTest, ParameterListLengthErrorRetriesWithF8OnBothTransports) {
  for (bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "aspi" : "pass-through");
    ui_.Clear();
    Attach("commit-paramlen", aspi);
    StartUp();
    ASSERT_TRUE(engine_->FlashImage()) << ::testing::PrintToString(ui_.logs);
    const std::vector<TWrite> w = Writes();
    ASSERT_GE(w.size(), 3u);
    EXPECT_THAT(std::vector<TWrite>(w.end() - 3, w.end()),
                ElementsAre(TWrite{4, 0xE8, 0, 0xA8B4}, TWrite{5, 0xE8, 0, 0xA8B4},
                            TWrite{5, 0xF8, 0, 0xA8B4}));
    const std::vector<TCommandKind> k = KindsFromCommit();
    const size_t at = aspi ? 3 : 2;  // the sg-driver transport tests readiness before the retry
    EXPECT_EQ(k[at], TCommandKind::TestUnitReady);
    EXPECT_EQ(k[at + 1], TCommandKind::FlashRetry);
    EXPECT_THAT(ui_.logs, ElementsAre("Flashing .."));
  }
}

TEST_F(DownloadTest, NotReadyCommitIsNotRetriedAndGoesToThePoll) {
  Attach("default");
  StartUp();
  Drive().InjectFault(TFault::Check(TCommandKind::FlashCommit, {0x02, 0x04, 0x01}));
  EXPECT_TRUE(engine_->FlashImage());
  EXPECT_TRUE(Commands(TCommandKind::FlashRetry).empty());
  const std::vector<TCommandKind> k = KindsFromCommit();
  ASSERT_GE(k.size(), 2u);
  EXPECT_EQ(k[1], TCommandKind::TestUnitReady);
  EXPECT_THAT(ui_.logs, ElementsAre("Flashing .."));
}

TEST_F(DownloadTest, PollTimesOutOnlyAfterMoreThan120Seconds) {
  for (bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "aspi" : "pass-through");
    state_ = TFlashState{};
    ui_.Clear();
    Attach("never-ready", aspi);
    StartUp();
    EXPECT_FALSE(engine_->FlashImage());
    const std::string timeoutLine =
        aspi ? "Time Out Status:2;Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;"
             : "Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;";
    EXPECT_THAT(ui_.logs, ElementsAre("Flashing ..", timeoutLine,
                                      "Err:Flash error,time out 120 Sec", "Err:Flash Fail!!"));
    const auto polls = Commands(TCommandKind::TestUnitReady);
    ASSERT_GE(polls.size(), 3u);
    const uint64_t first = polls.front().timeMs / 1000;
    EXPECT_GT(polls.back().timeMs / 1000 - first, 120u);
    EXPECT_LE(polls[polls.size() - 2].timeMs / 1000 - first, 120u);
    // One pass over the window's messages per second of waiting.
    EXPECT_EQ(ui_.pumps, static_cast<int>(polls.size()) - 1);
  }
}

TEST_F(DownloadTest, MediumNotPresentCountsAsReady) {
  Attach("no-medium");
  StartUp();
  EXPECT_TRUE(engine_->FlashImage());
  const auto polls = Commands(TCommandKind::TestUnitReady);
  ASSERT_GE(polls.size(), 2u);
  EXPECT_EQ(polls[polls.size() - 2].sense.key, 0x02);
  EXPECT_EQ(polls[polls.size() - 2].sense.asc, 0x3A);
}

TEST_F(DownloadTest, NoBanksCommitsWithE0) {
  Attach("normal-mode");
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  TTestImage image = PackImage(input);
  StartUp(image.image.get());
  engine_->FlashImage();
  EXPECT_THAT(Writes(), ElementsAre(TWrite{4, 0xE0, 0, 0}));
}

// ---- Verification

TEST_F(DownloadTest, ReadBackReadsABankOfFC80hIn253Pieces) {
  Attach("normal-mode");
  StartUp();
  ASSERT_TRUE(engine_->FlashImage());
  Drive().ClearHistory();
  ui_.Clear();
  const uint64_t before = clock_.NowMs();
  ASSERT_TRUE(engine_->VerifyFlash());  // normal mode: bytes after each bank are not zeros
  std::vector<TCommandRecord> bank7;
  for (const TCommandRecord& r : Commands(TCommandKind::ReadMemory)) {
    if (r.cdb[9] == 7) bank7.push_back(r);
  }
  ASSERT_EQ(bank7.size(), 253u);
  EXPECT_EQ(bank7.back().cdb[6], 0xFC);
  EXPECT_EQ(bank7.back().cdb[7], 0x00);
  EXPECT_GE(Commands(TCommandKind::ReadMemory).front().timeMs - before, 5000u);
  // One pass over the messages and one repaint per piece.
  EXPECT_EQ(ui_.pumps, static_cast<int>(Commands(TCommandKind::ReadMemory).size()));
}

// One unscrambled bank whose byte sum is 0000h (257 bytes of FFh and one of 01h add up to
// 10000h), not all of one value.
TTestImage ZeroSumImage() {
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  std::vector<uint8_t> bank(0x300, 0);
  std::fill_n(bank.begin(), 257, 0xFF);
  bank[257] = 0x01;
  input.Banks = {bank};
  return PackImage(input);
}

// A drive that keeps nothing and reads back zeros everywhere matches an image whose sum is
// 0000h by chance; a read-back of one value throughout is never a verified image.
TEST_F(DownloadTest, ADriveThatStoresNothingIsNotVerifiedEvenWhenTheSumMatches) {
  Attach("lenient");
  TTestImage image = ZeroSumImage();
  StartUp(image.image.get());
  ASSERT_EQ(state_.header.Checksum, 0);
  ASSERT_TRUE(engine_->FlashImage());  // every command "succeeds"
  bool uniform = false;
  ASSERT_EQ(engine_->ReadBackChecksum(&uniform), std::optional<uint16_t>(0));
  EXPECT_TRUE(uniform);
  ui_.Clear();
  EXPECT_FALSE(engine_->VerifyFlash());
  EXPECT_THAT(ui_.logs, ElementsAre("Err:Verify NG !!"));
  EXPECT_EQ(engine_->LastVerifyFailure(), TVerifyFailure::BlankReadBack);
}

TEST_F(DownloadTest, FailedReadFailsVerificationEvenForAZeroChecksum) {
  Attach("default");
  TTestImage image = ZeroSumImage();
  StartUp(image.image.get());
  ASSERT_EQ(state_.header.Checksum, 0);
  ASSERT_TRUE(engine_->FlashImage());
  ASSERT_TRUE(engine_->VerifyFlash());  // reads fine: verified
  Drive().InjectFault(TFault::Check(TCommandKind::ReadMemory, {0x05, 0x21, 0x00}));
  Drive().ClearHistory();
  ui_.Clear();
  EXPECT_FALSE(engine_->ReadBackChecksum().has_value());
  Drive().InjectFault(TFault::Check(TCommandKind::ReadMemory, {0x05, 0x21, 0x00}));
  EXPECT_FALSE(engine_->VerifyFlash());
  EXPECT_THAT(ui_.logs, ElementsAre("Err:Verify NG !!"));
  EXPECT_EQ(Commands(TCommandKind::ReadMemory).size(), 2u);  // one per attempt, no more
}

TEST_F(DownloadTest, ReadBackSumWrapsAndSumsOnlyEachBanksLength) {
  Attach("normal-mode");  // the bytes after each bank keep the older firmware
  // Two banks of 0x1A0 bytes of FFh and 0x10 bytes of 5Ah: sum 1A0h*FFh + 10h*5Ah.
  pack::TPackInput input;
  input.ScrambleFlag = 0x00;
  input.Banks = {std::vector<uint8_t>(0x1A0, 0xFF), std::vector<uint8_t>(0x10, 0x5A)};
  TTestImage image = PackImage(input);
  StartUp(image.image.get());
  ASSERT_TRUE(engine_->FlashImage());
  const std::optional<uint16_t> sum = engine_->ReadBackChecksum();
  ASSERT_TRUE(sum.has_value());
  EXPECT_EQ(*sum, static_cast<uint16_t>(0x1A0 * 0xFF + 0x10 * 0x5A));
}

}  // namespace
}  // namespace tavo::test
