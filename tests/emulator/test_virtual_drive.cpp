// The virtual drive on its own: what a flash really changes, programming time, and how it
// answers malformed or hostile requests from the host.
#include <gtest/gtest.h>

#include <cstring>

#include "emulator/virtual_drive.h"
#include "test_support.h"

namespace tavo {
namespace {

using namespace test;

constexpr TSenseCode kInvalidOpcode = scsi::kSenseInvalidOpcode;
constexpr TSenseCode kInvalidField = scsi::kSenseInvalidFieldInCdb;
constexpr TSenseCode kOutOfRange = scsi::kSenseAddressOutOfRange;
constexpr TSenseCode kParamLength = scsi::kSenseParameterListLength;
constexpr TSenseCode kInProgress = scsi::kSenseOperationInProgress;

std::vector<std::vector<uint8_t>> ImageLikeBanks() {
  std::vector<std::vector<uint8_t>> banks;
  for (unsigned b = 0; b < 8; ++b) banks.push_back(BankPattern(b, kImageBankLengths[b]));
  return banks;
}

TEST(VirtualDrive, CommitProgramsExactlyTheSentBytesAndNothingElse) {
  TDriveHarness h;
  const std::vector<uint8_t> before = h.drive.Flash();
  auto banks = ImageLikeBanks();
  // Bank 3 goes out twice: the later download replaces the earlier one.
  std::vector<uint8_t> stale(0x100, 0xEE);
  ASSERT_EQ(h.Out(FlashWriteCdb(5, 3, 0x100, 0), stale).status, 0);

  // Downloads alone change nothing.
  ASSERT_EQ(h.DownloadAndCommit(banks, 0xA8B4).status, 0);
  h.clock.Advance(h.drive.Profile().programmingTimeMs);

  std::vector<uint8_t> piece(256);
  for (unsigned b = 0; b < 8; ++b) {
    const uint32_t len = kImageBankLengths[b];
    for (uint32_t off = 0; off + 256 <= scsi::kBankSize; off += 256) {
      ASSERT_EQ(
          h.In(ReadMemoryCdb(static_cast<uint8_t>(b), static_cast<uint16_t>(off)), piece).status,
          0);
      for (uint32_t i = 0; i < 256; ++i) {
        const size_t at = b * scsi::kBankSize + off + i;
        const uint8_t expected = off + i < len ? banks[b][off + i] : before[at];
        ASSERT_EQ(piece[i], expected) << "bank " << b << " offset " << off + i;
      }
    }
  }
  EXPECT_EQ(h.drive.Phase(), TFlashPhase::Programmed);
}

TEST(VirtualDrive, DownloadsAreHeldUntilTheCommitAndACommitNeedsEveryBank) {
  TDriveHarness h;
  const std::vector<uint8_t> before = h.drive.Flash();
  auto banks = ImageLikeBanks();
  banks.resize(3);
  for (size_t b = 0; b < banks.size(); ++b) {
    ASSERT_EQ(
        h.Out(FlashWriteCdb(5, static_cast<uint8_t>(b), static_cast<uint16_t>(banks[b].size()), 0),
              banks[b])
            .status,
        0);
  }
  EXPECT_EQ(h.drive.Flash(), before);
  // Four banks announced, three held: a sequence error, and nothing is programmed.
  const TCommandResult r = h.Run(FlashWriteCdb(4, 0xE4, 0, 0x1234));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(SenseOf(r), scsi::kSenseSequenceError);
  EXPECT_EQ(h.drive.Flash(), before);
  // Flash status tells a refused commit (nonzero) and which banks are still held.
  std::vector<uint8_t> status(10);
  ASSERT_EQ(h.In(Vendor(scsi::kSubFlashStatus), status).status, 0);
  EXPECT_NE(status[0], 0);
  EXPECT_EQ(status[1], 0x07);
}

TEST(VirtualDrive, NotReadyWhileProgrammingThenReadyOnTheClock) {
  TDriveHarness h;
  auto banks = ImageLikeBanks();
  ASSERT_EQ(h.DownloadAndCommit(banks, 0xA8B4).status, 0);
  const uint32_t t = h.drive.Profile().programmingTimeMs;
  ASSERT_GT(t, 0u);

  TCommandResult r = h.Run(TurCdb());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(SenseOf(r), kInProgress);
  // Reads are refused as well; INQUIRY and the flash status still answer.
  std::vector<uint8_t> piece(256);
  EXPECT_EQ(SenseOf(h.In(ReadMemoryCdb(0, 0), piece)), kInProgress);
  std::vector<uint8_t> inquiry(50);
  EXPECT_EQ(h.In(InquiryCdb(50), inquiry).status, 0);

  // REQUEST SENSE reports the standing condition as data.
  std::vector<uint8_t> sense(18);
  ASSERT_EQ(h.In(RequestSenseCdb(18), sense).status, 0);
  EXPECT_EQ(sense[scsi::kSenseKeyByte], scsi::kNotReady);
  EXPECT_EQ(sense[scsi::kSenseAscByte], scsi::kAscLogicalUnitNotReady);

  h.clock.Advance(t - 1);
  EXPECT_EQ(SenseOf(h.Run(TurCdb())), kInProgress);
  h.clock.Advance(1);
  EXPECT_EQ(h.Run(TurCdb()).status, 0);
  ASSERT_EQ(h.In(RequestSenseCdb(18), sense).status, 0);
  EXPECT_EQ(sense[scsi::kSenseKeyByte], scsi::kNoSense);
}

TEST(VirtualDrive, MarkerThatDoesNotFitBankZeroIsLeftOut) {
  TVirtualClock clock;
  TDriveProfile plain = *FindProfile("no-marker");
  TDriveProfile oversized = plain;
  oversized.marker = std::string(40000, 'M');  // 80000 bytes in UTF-16LE: more than a bank
  TVirtualDrive a(plain, clock);
  TVirtualDrive b(oversized, clock);
  EXPECT_TRUE(a.Flash() == b.Flash());
}

TEST(VirtualDrive, UnknownOperationsAreInvalidOpcodes) {
  TDriveHarness h;
  std::vector<uint8_t> buf(512);
  const TCdb read10 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};  // an opcode the drive lacks
  EXPECT_EQ(SenseOf(h.In(read10, buf)), kInvalidOpcode);
  EXPECT_EQ(SenseOf(h.In(Vendor(0x55), buf)), kInvalidOpcode);  // an unused sub-operation
  EXPECT_EQ(SenseOf(h.In(Vendor(scsi::kSubReadMemory, scsi::kVendorSignatureAlt), buf)),
            kInvalidOpcode);  // wrong signature
  EXPECT_EQ(SenseOf(h.drive.Execute(nullptr, 0, buf.data(), 16, TDataDirection::In)),
            kInvalidOpcode);
  // Fixed-format sense: response code, additional length (wire bytes, pinned on purpose).
  const TCommandResult r = h.In(read10, buf);
  EXPECT_EQ(r.senseLength, 18);
  EXPECT_EQ(r.sense[0], 0x70);
  EXPECT_EQ(r.sense[7], 0x0A);
}

// Every buffer here has exactly the size the host claims, so AddressSanitizer catches any
// access beyond it.
TEST(VirtualDrive, HostileRequestsAreRefusedWithoutTouchingMemory) {
  TDriveHarness h;
  const std::vector<uint8_t> before = h.drive.Flash();
  std::vector<uint8_t> small(16, 0xCC);

  EXPECT_EQ(SenseOf(h.In(ReadMemoryCdb(8, 0), small)), kInvalidField);
  std::vector<uint8_t> piece(256);
  EXPECT_EQ(SenseOf(h.In(ReadMemoryCdb(0, 0xFF01), piece)), kOutOfRange);
  EXPECT_EQ(h.In(ReadMemoryCdb(7, 0xFF00), piece).status, 0);  // last piece of the flash
  // Reply bigger than the host's buffer.
  EXPECT_EQ(SenseOf(h.In(ReadMemoryCdb(0, 0), small)), kInvalidField);
  EXPECT_EQ(SenseOf(h.In(Vendor(scsi::kSubReadPatchInfo), small)), kInvalidField);
  EXPECT_EQ(SenseOf(h.In(ReadFirmwareCdb(0xFFFF), small)), kInvalidField);
  EXPECT_EQ(SenseOf(h.In(InquiryCdb(96), small)), kInvalidField);
  EXPECT_EQ(small, std::vector<uint8_t>(16, 0xCC));
  // Data in asked for with the data-out direction.
  EXPECT_EQ(SenseOf(h.Out(ReadMemoryCdb(0, 0), piece)), kInvalidField);

  // Writes: past the bank, bank out of range, less data than announced.
  std::vector<uint8_t> block(128, 0x11);
  EXPECT_EQ(SenseOf(h.Out(WritePatchCdb(0, 0xFFF0, 128), block)), kOutOfRange);
  EXPECT_EQ(SenseOf(h.Out(WritePatchCdb(8, 0, 128), block)), kInvalidField);
  EXPECT_EQ(SenseOf(h.Out(WritePatchCdb(0, 0, 200), block)), kParamLength);
  EXPECT_EQ(SenseOf(h.Out(FlashWriteCdb(5, 0, 0xFFFF, 0), block)), kParamLength);
  EXPECT_EQ(SenseOf(h.Out(FlashWriteCdb(5, 8, 128, 0), block)), kInvalidField);
  EXPECT_EQ(SenseOf(h.Out(FlashWriteCdb(7, 0, 128, 0), block)), kInvalidField);
  // A commit naming more than eight banks.
  EXPECT_EQ(SenseOf(h.Run(FlashWriteCdb(4, 0xE9, 0, 0))), kInvalidField);
  // A CDB too short for a vendor command is a MODE SENSE of an unknown page.
  std::vector<uint8_t> caps(256);
  EXPECT_EQ(SenseOf(h.drive.Execute(Vendor(scsi::kSubReadMemory).data(), 10, caps.data(), 256,
                                    TDataDirection::In)),
            kInvalidField);
  // A data length without a buffer is no data at all.
  EXPECT_EQ(
      SenseOf(h.drive.Execute(ReadMemoryCdb(0, 0).data(), 12, nullptr, 256, TDataDirection::In)),
      kInvalidField);

  EXPECT_EQ(h.drive.Flash(), before);
  std::vector<uint8_t> status(10);
  ASSERT_EQ(h.In(Vendor(scsi::kSubFlashStatus), status).status, 0);
  EXPECT_EQ(status[1], 0) << "no bank may be held after refused downloads";

  // The edge that is allowed: a patch block ending exactly at the end of the bank.
  EXPECT_EQ(h.Out(WritePatchCdb(7, 0xFF80, 128), block).status, 0);
  EXPECT_EQ(h.drive.Flash()[scsi::kMaxBanks * scsi::kBankSize - 1], 0x11);
}

TEST(VirtualDrive, InjectedFaultsFollowTheirKindAndCount) {
  TDriveHarness h;
  std::vector<uint8_t> piece(256);
  h.drive.InjectFault(TFault::Check(TCommandKind::ReadMemory, scsi::kSenseUnrecoveredReadError, 2));
  h.drive.InjectFault(TFault::Refuse(TCommandKind::FlashWrite, EACCES, kAlways));
  EXPECT_EQ(h.Run(TurCdb()).status, 0);
  EXPECT_EQ(SenseOf(h.In(ReadMemoryCdb(0, 0), piece)), scsi::kSenseUnrecoveredReadError);
  EXPECT_EQ(SenseOf(h.In(ReadMemoryCdb(0, 0), piece)), scsi::kSenseUnrecoveredReadError);
  EXPECT_EQ(h.In(ReadMemoryCdb(0, 0), piece).status, 0);
  // FlashWrite covers the commit as well; a refused request never reaches the drive.
  const size_t seen = h.drive.History().size();
  EXPECT_EQ(h.Run(FlashWriteCdb(4, 0xE0, 0, 0)).systemError, EACCES);
  EXPECT_EQ(h.Run(FlashWriteCdb(4, 0xE0, 0, 0)).systemError, EACCES);
  EXPECT_EQ(h.drive.History().size(), seen);
  EXPECT_EQ(h.drive.Phase(), TFlashPhase::Idle);

  // A hostile reply overwrites the reply only within the host's buffer.
  h.drive.InjectFault(
      TFault::Hostile(TCommandKind::ReadMemory, std::vector<uint8_t>(64, 0xAB), 240, 1));
  ASSERT_EQ(h.In(ReadMemoryCdb(0, 0), piece).status, 0);
  EXPECT_EQ(piece[239], h.drive.Flash()[239]);
  EXPECT_EQ(piece[240], 0xAB);
  EXPECT_EQ(piece[255], 0xAB);
}

}  // namespace
}  // namespace tavo
