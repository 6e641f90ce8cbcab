// Each profile's defining behaviour, seen through the commands the flash procedure sends.
#include <gtest/gtest.h>

#include "emulator/profiles.h"
#include "test_support.h"

namespace tavo {
namespace {

using namespace test;

std::vector<uint8_t> Inquiry(TDriveHarness& h) {
  std::vector<uint8_t> data(50);
  EXPECT_EQ(h.In(InquiryCdb(50), data).status, 0);
  return data;
}

std::vector<uint8_t> Caps(TDriveHarness& h) {
  std::vector<uint8_t> data(256);
  EXPECT_EQ(h.In(CapabilitiesCdb(), data).status, 0);
  return data;
}

bool FullBank(const std::vector<uint8_t>& c) {
  return (c[8] & 0x2A) == 0x2A && (c[10] & 0x08) && (c[11] & 0x01) && !(c[11] & 0x10);
}

std::vector<uint8_t> Firmware(TDriveHarness& h) {
  std::vector<uint8_t> data(0xFFFE);
  EXPECT_EQ(h.In(ReadFirmwareCdb(0xFFFE), data).status, 0);
  return data;
}

bool HasMarker(const std::vector<uint8_t>& fw) {
  return ContainsUtf16(fw.data(), fw.size(), "Tavonix ODD") ||
         ContainsUtf16(fw.data(), fw.size(), "Tavonix Design");
}

// Downloads eight small banks and sends the commit forms in the order the flash procedure
// retries them, until one is taken; returns the sense of each refused form.
std::vector<TSenseCode> CommitAsTheProcedureDoes(TDriveHarness& h) {
  std::vector<std::vector<uint8_t>> banks;
  for (unsigned b = 0; b < 8; ++b) banks.push_back(BankPattern(b, 0x400));
  std::vector<TSenseCode> refused;
  TCommandResult r = h.DownloadAndCommit(banks, 0x1234);
  if (r.status == 0) return refused;
  refused.push_back(SenseOf(r));
  if (SenseOf(r).key != scsi::kIllegalRequest) return refused;
  r = h.Run(FlashWriteCdb(5, 0xE8, 0, 0x1234));
  if (r.status == 0) return refused;
  refused.push_back(SenseOf(r));
  if (SenseOf(r) != scsi::kSenseParameterListLength) return refused;
  r = h.Run(FlashWriteCdb(5, 0xF8, 0, 0x1234));
  if (r.status != 0) refused.push_back(SenseOf(r));
  return refused;
}

TEST(Profiles, NamesAreExactlyTheKnownSet) {
  const std::vector<std::string> expected = {
      "default",     "normal-mode", "commit-illegal",  "commit-paramlen",  "commit-unit-attention",
      "never-ready", "no-medium",   "legacy-unlisted", "other-family",     "no-marker",
      "bad-verify",  "unsupported", "bank4-refused",   "download-illegal", "lenient",
      "current",     "newer",       "unstable-read"};
  EXPECT_EQ(ProfileNames(), expected);
  for (const auto& name : expected) EXPECT_EQ(FindProfile(name)->name, name);
  EXPECT_FALSE(FindProfile("Default"));
}

TEST(Profiles, DefaultMatchesTheImageAndSelectsFullBankMode) {
  TDriveHarness h("default");
  const auto inq = Inquiry(h);
  EXPECT_EQ(std::string(inq.begin() + 8, inq.begin() + 32), "TAVO    QRD-1040C       ");
  EXPECT_EQ(inq[38], 'W');
  EXPECT_EQ(inq[39], '0');
  EXPECT_TRUE(FullBank(Caps(h)));
  EXPECT_TRUE(HasMarker(Firmware(h)));
  std::vector<uint8_t> info(scsi::kPatchInfoLength);
  ASSERT_EQ(h.In(Vendor(scsi::kSubReadPatchInfo), info).status, 0);
  EXPECT_EQ(info[0], 0x55);
  EXPECT_EQ(info[1], 0xDD);
  EXPECT_LT(info[4], 8);
  EXPECT_LE((info[5] << 8 | info[6]) + (info[7] << 8 | info[8]), 0xBEF0);

  EXPECT_FALSE(FullBank(Caps(*std::make_unique<TDriveHarness>("normal-mode"))));
}

TEST(Profiles, IdentityVariants) {
  TDriveHarness legacy("legacy-unlisted");
  const auto l = Inquiry(legacy);
  EXPECT_EQ(l[38], 'W');
  EXPECT_EQ(l[39], '0');
  const std::string model(l.begin() + 8, l.begin() + 25);
  for (const char* listed : {"TAVO    QRD-0710C", "TAVO    QRD-0820C", "TAVO    QRD-0930C",
                             "TAVO    QRD-1040C", "TAVO    QRD-1150C", "TAVO    QRD-1260C"}) {
    EXPECT_NE(model, listed);
  }
  TDriveHarness other("other-family");
  const auto o = Inquiry(other);
  EXPECT_FALSE(o[38] == 'W' && o[39] == '0');
  EXPECT_FALSE(o[38] == 'T' && o[39] == '7');
  TDriveHarness bare("no-marker");
  EXPECT_FALSE(HasMarker(Firmware(bare)));
}

TEST(Profiles, CommitFormsEachProfileAccepts) {
  struct TCase {
    const char* name;
    std::vector<TSenseCode> refused;
    bool programs;
  };
  const TCase cases[] = {
      {"default", {}, true},
      {"commit-illegal", {scsi::kSenseInvalidFieldInCdb}, true},
      {"commit-paramlen", {scsi::kSenseInvalidFieldInCdb, scsi::kSenseParameterListLength}, true},
      {"commit-unit-attention", {scsi::kSensePowerOnReset}, false},
  };
  for (const TCase& c : cases) {
    TDriveHarness h(c.name);
    EXPECT_EQ(CommitAsTheProcedureDoes(h), c.refused) << c.name;
    EXPECT_EQ(h.drive.Programming(), c.programs) << c.name;
  }
}

TEST(Profiles, WhatTheDriveSaysAfterProgramming) {
  for (const char* name : {"never-ready", "no-medium"}) {
    TDriveHarness h(name);
    ASSERT_TRUE(CommitAsTheProcedureDoes(h).empty());
    h.clock.Advance(1000 * 1000);
    const TCommandResult r = h.Run(TurCdb());
    EXPECT_EQ(r.status, 2) << name;
    const TSenseCode expected = std::string(name) == "never-ready" ? scsi::kSenseOperationInProgress
                                                                   : scsi::kSenseMediumNotPresent;
    EXPECT_EQ(SenseOf(r), expected) << name;
  }
}

TEST(Profiles, BadVerifyProgramsOneByteWrong) {
  TDriveHarness good("default");
  TDriveHarness bad("bad-verify");
  uint32_t sent = 0;
  for (unsigned b = 0; b < 8; ++b) {
    for (uint8_t v : BankPattern(b, 0x400)) sent += v;
  }
  uint32_t goodSum = 0;
  uint32_t badSum = 0;
  for (TDriveHarness* h : {&good, &bad}) {
    ASSERT_TRUE(CommitAsTheProcedureDoes(*h).empty());
    h->clock.Advance(60000);
    uint32_t& sum = h == &good ? goodSum : badSum;
    for (unsigned b = 0; b < 8; ++b) sum += FlashBankSum(h->drive, b, 0x400);
  }
  // Bank sums are 16-bit, as the read-back compares them.
  EXPECT_EQ(goodSum % 0x10000, sent % 0x10000);
  EXPECT_EQ(badSum % 0x10000, (sent + 1) % 0x10000);
}

TEST(Profiles, FlashStatusTellsAFailedFlashFromAnUnsupportedImage) {
  std::vector<uint8_t> bank = BankPattern(0, 0x100);
  std::vector<uint8_t> status(10);

  TDriveHarness unsupported("unsupported");
  EXPECT_EQ(unsupported.Out(FlashWriteCdb(5, 0, 0x100, 0), bank).status, 2);
  ASSERT_EQ(unsupported.In(Vendor(0xC0), status).status, 0);
  EXPECT_EQ(status[0], 0);

  TDriveHarness refused("commit-unit-attention");
  ASSERT_EQ(CommitAsTheProcedureDoes(refused).size(), 1u);
  ASSERT_EQ(refused.In(Vendor(0xC0), status).status, 0);
  EXPECT_NE(status[0], 0);

  TDriveHarness stuck("never-ready");
  ASSERT_TRUE(CommitAsTheProcedureDoes(stuck).empty());
  stuck.clock.Advance(121000);
  ASSERT_EQ(stuck.In(Vendor(0xC0), status).status, 0);
  EXPECT_NE(status[0], 0);
}

TEST(Profiles, CurrentFirmwareIsBankZeroBeforeAndAfterAFlash) {
  TDriveHarness h("no-marker");
  std::vector<std::vector<uint8_t>> banks;
  for (unsigned b = 0; b < 8; ++b) banks.push_back(BankPattern(b, 0x400));
  // The new bank 0 carries the other marker and a template of a newer revision.
  const std::string marker = "Tavonix Design";
  for (size_t i = 0; i < marker.size(); ++i) banks[0][0x101 + 2 * i] = uint8_t(marker[i]);
  for (size_t i = 0; i < marker.size(); ++i) banks[0][0x102 + 2 * i] = 0;
  const uint8_t tmpl[40] = {0x05, 0x80, 0x00, 0x32, 0x1F, 0,   0,   0,   'T', 'A',
                            'V',  'O',  ' ',  ' ',  ' ',  ' ', 'Q', 'R', 'D', '-',
                            '1',  '0',  '4',  '0',  'C',  ' ', ' ', ' ', ' ', ' ',
                            ' ',  ' ',  '1',  '.',  '0',  '8', 0,   0,   'T', '7'};
  std::copy(std::begin(tmpl), std::end(tmpl), banks[0].begin() + 0x200);
  ASSERT_EQ(h.DownloadAndCommit(banks, 0).status, 0);
  h.clock.Advance(h.drive.Profile().programmingTimeMs);

  const auto fw = Firmware(h);
  EXPECT_TRUE(HasMarker(fw));
  EXPECT_TRUE(std::equal(banks[0].begin(), banks[0].end(), fw.begin()));
  const auto inq = Inquiry(h);
  EXPECT_EQ(std::string(inq.begin() + 32, inq.begin() + 36), "1.08");
  EXPECT_EQ(inq[38], 'T');
  EXPECT_EQ(inq[39], '7');
}

// Two reads of a whole bank never agree, and never change the memory; a stable drive's
// reads are its memory.
TEST(Profiles, UnstableReadsDifferFromReadToReadAndLeaveTheMemoryAlone) {
  const auto readBank = [](TDriveHarness& h, uint8_t bank) {
    std::vector<uint8_t> out;
    for (uint32_t offset = 0; offset < scsi::kBankSize; offset += scsi::kMemoryPieceLength) {
      std::vector<uint8_t> piece(scsi::kMemoryPieceLength);
      EXPECT_EQ(h.In(ReadMemoryCdb(bank, static_cast<uint16_t>(offset)), piece).status, 0);
      out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
  };
  TDriveHarness unstable("unstable-read");
  const std::vector<uint8_t> memory = unstable.drive.Flash();
  for (uint8_t bank = 0; bank < scsi::kMaxBanks; ++bank) {
    EXPECT_NE(readBank(unstable, bank), readBank(unstable, bank)) << int{bank};
  }
  EXPECT_NE(Firmware(unstable), Firmware(unstable));
  EXPECT_EQ(unstable.drive.Flash(), memory);

  TDriveHarness stable;
  const std::vector<uint8_t> bank3 = readBank(stable, 3);
  EXPECT_TRUE(
      std::equal(bank3.begin(), bank3.end(), stable.drive.Flash().begin() + 3 * scsi::kBankSize));
}

}  // namespace
}  // namespace tavo
