#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "drive/atapi.h"
#include "drive/scsi.h"
#include "tests/drive/fake_ports.h"

namespace tavo {
namespace {

using test::InquiryData;
using test::TAspiReply;
using test::TFakeAspiPort;
using test::TFakePassThroughPort;
using test::TPtReply;
using test::TRecordingSink;
using Cdb = std::vector<uint8_t>;

Cdb CdbOf(const uint8_t* bytes) {
  return Cdb(bytes, bytes + 12);
}

// Pass-through object with one optical drive on slot 0.
class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override { port.slots[0] = {}; }
  TAtapi& Make() {
    TAtapiConfig config;
    config.passThrough = true;
    config.passThroughPort = &port;
    config.sink = &sink;
    config.clock = &clock;
    atapi = std::make_unique<TAtapi>(config);
    port.blocks.clear();  // forget discovery's INQUIRY
    port.handles.clear();
    return *atapi;
  }
  const TScsiPassThroughDirect& Last() { return port.blocks.back().Sptd; }

  TVirtualClock clock;
  TFakePassThroughPort port;
  TRecordingSink sink;
  std::unique_ptr<TAtapi> atapi;
};

// ASPI object with one CD-ROM at adapter 0, target 1, LUN 0.
class AspiTest : public ::testing::Test {
 protected:
  void SetUp() override { port.devices[{0, 1, 0}] = 5; }
  TAtapi& Make() {
    TAtapiConfig config;
    config.passThrough = false;
    config.aspiPort = &port;
    config.sink = &sink;
    config.clock = &clock;
    atapi = std::make_unique<TAtapi>(config);
    port.execs.clear();
    return *atapi;
  }

  TVirtualClock clock;
  TFakeAspiPort port{&clock};
  TRecordingSink sink;
  std::unique_ptr<TAtapi> atapi;
};

// Command set. The CDBs and lengths below are written out byte by byte on purpose: they pin
// the wire format, so a wrong value in drive/scsi.h shows up here.

TEST_F(PassThroughTest, FixedCommandsSendTheirTemplatesLengthsAndDirections) {
  TAtapi& a = Make();
  std::vector<uint8_t> buf(scsi::kPatchInfoLength);
  struct Case {
    uint8_t (*send)(TAtapi&, uint8_t*);
    Cdb cdb;
    uint32_t length;
    uint8_t dataIn;
  };
  const std::vector<Case> cases = {
      {[](TAtapi& t, uint8_t*) { return t.TestUnitReady(); },
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       0,
       kDataUnspecified},
      {[](TAtapi& t, uint8_t* b) { return t.Inquiry(b); },
       {0x12, 0, 0, 0, 0x32, 0, 0, 0, 0, 0, 0, 0},
       50,
       kDataIn},
      {[](TAtapi& t, uint8_t*) { return t.StopPlayScan(); },
       {0x4E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       0,
       kDataUnspecified},
      {[](TAtapi& t, uint8_t* b) { return t.ModeSenseCapabilities(b); },
       {0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0, 0, 0, 0},
       256,
       kDataIn},
      {[](TAtapi& t, uint8_t*) { return t.StartStopUnit(); },
       {0x1B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       0,
       kDataUnspecified},
      {[](TAtapi& t, uint8_t* b) { return t.FlashStatus(b); },
       {0x5A, 0, 0x38, 0x41, 0x53, 0xC0, 0, 0, 0, 0, 0, 0},
       10,
       kDataIn},
      {[](TAtapi& t, uint8_t* b) { return t.ReadPatchInfo(b); },
       {0x5A, 0, 0x38, 0x41, 0x53, 0xA3, 0, 0, 0, 0, 0, 0},
       65536,
       kDataIn},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].send(a, buf.data()), 1);
    EXPECT_EQ(CdbOf(Last().Cdb), cases[i].cdb);
    EXPECT_EQ(Last().DataTransferLength, cases[i].length);
    EXPECT_EQ(Last().DataIn, cases[i].dataIn);
    EXPECT_EQ(port.handles.back(), TFakePassThroughPort::HandleOf(0));
  }
}

TEST_F(PassThroughTest, ArgumentCommandsPlaceEveryByteBigEndian) {
  TAtapi& a = Make();
  std::vector<uint8_t> buf(scsi::kPatchInfoLength);

  a.FlashWrite(buf.data(), 5, 3, 0xFFFE, 0);
  EXPECT_EQ(CdbOf(Last().Cdb), (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0xA0, 5, 3, 0xFF, 0xFE, 0, 0}));
  EXPECT_EQ(Last().DataTransferLength, 0xFFFEu);
  EXPECT_EQ(Last().DataIn, kDataOut);
  EXPECT_EQ(Last().DataBuffer, buf.data());

  a.FlashWrite(buf.data(), 4, 0xE8, 0x1234, 0xBEEF);  // value goes to bytes 10-11
  EXPECT_EQ(CdbOf(Last().Cdb),
            (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0xA0, 4, 0xE8, 0x12, 0x34, 0xBE, 0xEF}));

  a.ReadMemory(buf.data(), 1, 0xE000);
  EXPECT_EQ(CdbOf(Last().Cdb), (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0x11, 0xE0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(Last().DataTransferLength, 256u);
  EXPECT_EQ(Last().DataIn, kDataIn);

  a.WritePatch(buf.data(), 2, 0x0180, 128);
  EXPECT_EQ(CdbOf(Last().Cdb), (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0xA2, 0, 2, 1, 0x80, 0, 0x80}));
  EXPECT_EQ(Last().DataTransferLength, 128u);
  EXPECT_EQ(Last().DataIn, kDataOut);

  // Only the low 16 bits of the offset are sent; untouched bytes 6 and 10 stay 0.
  a.WritePatch(buf.data(), 0xFF, 0xABCD1234, 0xFF);
  EXPECT_EQ(CdbOf(Last().Cdb),
            (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0xA2, 0, 0xFF, 0x12, 0x34, 0, 0xFF}));

  a.ReadMemory(buf.data(), 0xFF, 0xFFFF);  // byte 8 stays 0 even with every argument set
  EXPECT_EQ(CdbOf(Last().Cdb), (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0x11, 0xFF, 0xFF, 0, 0xFF, 0, 0}));

  a.ReadFirmware(buf.data(), 0xFFFE);
  EXPECT_EQ(CdbOf(Last().Cdb), (Cdb{0x5A, 0, 0x33, 0x41, 0x53, 0x10, 0, 0, 0xFF, 0xFE, 0, 0}));
  EXPECT_EQ(Last().DataTransferLength, 0xFFFEu);
  a.ReadFirmware(buf.data(), 0xFFFF);
  EXPECT_EQ(Last().DataTransferLength, 0xFFFFu);
  EXPECT_EQ(Last().Cdb[9], 0xFF);
}

TEST_F(PassThroughTest, ZeroLengthWritesKeepTheDataOutDirection) {
  TAtapi& a = Make();
  uint8_t data[4] = {};
  a.FlashWrite(nullptr, 4, 0xE8, 0, 0x1234);
  EXPECT_EQ(Last().Cdb[8], 0);
  EXPECT_EQ(Last().Cdb[9], 0);
  EXPECT_EQ(Last().DataTransferLength, 0u);
  EXPECT_EQ(Last().DataIn, kDataOut);
  a.WritePatch(data, 1, 0x10, 0);
  EXPECT_EQ(Last().Cdb[11], 0);
  EXPECT_EQ(Last().DataTransferLength, 0u);
  EXPECT_EQ(Last().DataIn, kDataOut);
}

// Transport

TEST_F(PassThroughTest, BlockIsClearedAndFilledForEveryCommand) {
  TAtapi& a = Make();
  port.replies.push_back({0, 2, std::vector<uint8_t>(24, 0xAA)});
  uint8_t buf[50];
  a.Inquiry(buf);
  a.TestUnitReady();
  const TPassThroughBlock& block = port.blocks.back();
  EXPECT_EQ(block.Sptd.Length, 44);
  EXPECT_EQ(block.Sptd.CdbLength, 12);
  EXPECT_EQ(block.Sptd.SenseInfoLength, 24);
  EXPECT_EQ(block.Sptd.TimeOutValue, 20u);
  EXPECT_EQ(block.Sptd.SenseInfoOffset, 48u);
  EXPECT_EQ(block.Sptd.DataBuffer, nullptr);
  EXPECT_EQ(block.Sptd.PathId + block.Sptd.TargetId + block.Sptd.Lun, 0);
  for (int i = 12; i < 16; ++i) EXPECT_EQ(block.Sptd.Cdb[i], 0);
  for (uint8_t b : block.SenseBuf) EXPECT_EQ(b, 0);  // the previous sense is gone
}

TEST_F(PassThroughTest, DirectionCodesMapToDataIn) {
  TAtapi& a = Make();
  const uint8_t cdb[12] = {scsi::kOpModeSense10};
  uint8_t buf[8];
  const std::vector<std::pair<uint8_t, uint8_t>> map = {{0, kDataUnspecified},
                                                        {8, kDataIn},
                                                        {16, kDataOut},
                                                        {3, kDataUnspecified},
                                                        {24, kDataUnspecified}};
  for (auto [direction, dataIn] : map) {
    a.ExecCommand(cdb, buf, sizeof buf, direction);
    EXPECT_EQ(Last().DataIn, dataIn) << int(direction);
  }
}

// A transport fault shows no message; with a SCSI status the status decides, without one the
// command failed (status 4, as a time-out on the other transport).
TEST_F(PassThroughTest, TransportFaultsShowNoMessageAndFailWithoutAScsiStatus) {
  TAtapi& a = Make();
  port.replies = {{EIO, 0, {}}, {ETIMEDOUT, 0, {}}, {EIO, 2, {}}, {ETIMEDOUT, 8, {}}};
  EXPECT_EQ(a.TestUnitReady(), 4);
  EXPECT_EQ(a.TestUnitReady(), 4);
  EXPECT_EQ(a.TestUnitReady(), 2);
  EXPECT_EQ(a.TestUnitReady(), 8);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(PassThroughTest, RefusedRequestGivesStatusZeroAndOneMessage) {
  TAtapi& a = Make();
  port.replies = {{EINVAL, 0, {}}};
  EXPECT_EQ(a.TestUnitReady(), 0);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], std::string(std::strerror(EINVAL)) + "\n");
}

TEST(SystemErrorText, FitsTheEightyCharacterBufferOrReportsTheFailure) {
  EXPECT_EQ(SystemErrorMessage("Input/output error", 0), "Input/output error\n");
  const std::string longest(79, 'x');  // 79 characters and the NUL fill the buffer
  EXPECT_EQ(SystemErrorMessage(longest.c_str(), 0), longest + "\n");
  const std::string tooLong(80, 'x');
  EXPECT_EQ(SystemErrorMessage(tooLong.c_str(), 0),
            "Format message failed.  Error: " + std::to_string(ERANGE) + "\n");
  EXPECT_EQ(SystemErrorMessage(nullptr, EINVAL),
            "Format message failed.  Error: " + std::to_string(EINVAL) + "\n");
  EXPECT_EQ(SystemErrorMessage("", 0),
            "Format message failed.  Error: " + std::to_string(EINVAL) + "\n");
}

TEST_F(PassThroughTest, RefusedAccessAddsTheAccessHintOnce) {
  TAtapi& a = Make();
  port.replies = {{EACCES, 0, {}}, {EPERM, 0, {}}};
  EXPECT_EQ(a.TestUnitReady(), 0);
  EXPECT_EQ(a.TestUnitReady(), 0);
  ASSERT_EQ(sink.messages.size(), 3u);  // two system texts, one hint
  EXPECT_NE(sink.messages[1].find("'cdrom' group"), std::string::npos);
  EXPECT_EQ(sink.messages[2], std::string(std::strerror(EPERM)) + "\n");
}

TEST_F(PassThroughTest, SenseAfterCheckConditionIsClearedByTheNextCommand) {
  TAtapi& a = Make();
  std::vector<uint8_t> sense(24, 0);  // fixed-format positions, pinned on purpose
  sense[2] = 0x85;                    // whole byte, upper bits included
  sense[12] = 0x24;
  sense[13] = 0x01;
  port.replies = {{0, 2, sense}};
  EXPECT_EQ(a.TestUnitReady(), 2);
  EXPECT_EQ(a.LastSenseKey(), 0x85);
  EXPECT_EQ(a.LastAsc(), 0x24);
  EXPECT_EQ(a.LastAscq(), 0x01);
  EXPECT_EQ(a.LastTargetStatus(), 2);
  EXPECT_EQ(a.TestUnitReady(), 1);
  EXPECT_EQ(a.LastSenseKey() | a.LastAsc() | a.LastAscq() | a.LastTargetStatus(), 0);
}

TEST_F(AspiTest, RequestBlockIsFilledFromTheCurrentDevice) {
  TAtapi& a = Make();
  uint8_t buf[256];
  a.ReadMemory(buf, 1, 0xE000);
  ASSERT_EQ(port.execs.size(), 1u);
  const TSrbExecSCSICmd& srb = port.execs[0];
  EXPECT_EQ(srb.SRB_Cmd, SC_EXEC_SCSI_CMD);
  EXPECT_EQ(srb.SRB_HaId, 0);
  EXPECT_EQ(srb.SRB_Target, 1);
  EXPECT_EQ(srb.SRB_Lun, 0);
  EXPECT_EQ(srb.SRB_Flags, 0x48);
  EXPECT_EQ(srb.SRB_BufLen, 256u);
  EXPECT_EQ(srb.SRB_BufPointer, buf);
  EXPECT_EQ(srb.SRB_SenseLen, 14);
  EXPECT_EQ(srb.SRB_CDBLen, 12);
  EXPECT_NE(srb.SRB_PostProc, kNoEvent);
  // The wire bytes, pinned on purpose.
  EXPECT_EQ(CdbOf(srb.CDBByte), (Cdb{0x5A, 0, 0x38, 0x41, 0x53, 0x11, 0xE0, 0, 0, 1, 0, 0}));
}

TEST_F(AspiTest, DirectionCodesAreOredWithEventNotify) {
  TAtapi& a = Make();
  const uint8_t cdb[12] = {0};
  for (uint8_t direction : {0, 8, 16, 3}) {
    a.ExecCommand(cdb, nullptr, 0, direction);
    EXPECT_EQ(port.execs.back().SRB_Flags, direction | 0x40) << int(direction);
  }
}

TEST_F(AspiTest, ImmediateCompletionIsNotWaitedFor) {
  TAtapi& a = Make();
  port.replies = {{TAspiReply::Immediate, SS_ERR, 2, {}}};
  EXPECT_EQ(a.TestUnitReady(), SS_ERR);
  EXPECT_TRUE(port.waits.empty());
  EXPECT_EQ(port.eventsClosed.size(), static_cast<size_t>(port.eventsCreated));
}

TEST_F(AspiTest, SignalledCompletionReturnsItsStatus) {
  TAtapi& a = Make();
  port.replies = {{TAspiReply::Signalled, SS_COMP, 0, {}}};
  EXPECT_EQ(a.TestUnitReady(), 1);
  ASSERT_EQ(port.waits.size(), 1u);
  EXPECT_EQ(port.waits[0].second, 30000u);
  EXPECT_TRUE(port.aborts.empty());
}

TEST_F(AspiTest, NoCompletionWithinThirtySecondsAbortsTheRequest) {
  TAtapi& a = Make();
  const uint64_t before = clock.NowMs();
  port.replies = {{TAspiReply::NeverCompletes, 0, 0, {}}};
  EXPECT_EQ(a.TestUnitReady(), 4);
  EXPECT_EQ(clock.NowMs() - before, 30000u);
  ASSERT_EQ(port.aborts.size(), 1u);
  EXPECT_EQ(port.aborts[0].SRB_Cmd, SC_ABORT_SRB);
  EXPECT_EQ(port.aborts[0].SRB_ToAbort, a.ExecRequest());
  EXPECT_EQ(port.aborts[0].SRB_HaId, a.HaId());
}

TEST_F(AspiTest, FailedEventCreationGivesStatusFourWithoutSending) {
  TAtapi& a = Make();
  port.failEvents = true;
  EXPECT_EQ(a.TestUnitReady(), 4);
  EXPECT_TRUE(port.execs.empty());
}

TEST_F(AspiTest, SenseOfAnEarlierFailureIsNotReadAfterALaterSuccess) {
  TAtapi& a = Make();
  std::vector<uint8_t> sense(14, 0);  // fixed-format positions, pinned on purpose
  sense[2] = 0x05;
  sense[12] = 0x24;
  sense[13] = 0x02;
  port.replies = {{TAspiReply::Signalled, SS_ERR, 2, sense}, {TAspiReply::Immediate, 1, 0, {}}};
  EXPECT_EQ(a.TestUnitReady(), SS_ERR);
  EXPECT_EQ(a.LastTargetStatus(), 2);
  EXPECT_EQ(a.LastSenseKey(), 0x05);
  EXPECT_EQ(a.TestUnitReady(), 1);
  EXPECT_EQ(a.LastSenseKey() | a.LastAsc() | a.LastAscq() | a.LastTargetStatus(), 0);
}

TEST_F(AspiTest, RefusedDeviceOpenShowsTheAccessHintOnce) {
  TAtapi& a = Make();
  port.accessError = EACCES;
  a.TestUnitReady();
  port.accessError = EACCES;
  a.TestUnitReady();
  ASSERT_EQ(sink.messages.size(), 1u);
  // Linux words: the group that opens the device nodes, or sudo.
  EXPECT_NE(sink.messages[0].find("'cdrom' group"), std::string::npos);
  EXPECT_NE(sink.messages[0].find("sudo"), std::string::npos);
  EXPECT_EQ(sink.messages[0].find("administrator"), std::string::npos);
}

// Construction, discovery and the table

TEST_F(PassThroughTest, FiveDrivesCountFourAndTheFifthOverwritesRowFour) {
  port.slots.clear();
  for (int slot = 3; slot <= 7; ++slot) {
    port.slots[slot].inquiry =
        InquiryData("VEND" + std::to_string(slot) + "   MODEL", "R" + std::to_string(slot));
  }
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 4);
  for (int row = 0; row < 5; ++row) {
    const int slot = row == 4 ? 7 : row + 3;
    EXPECT_EQ(a.Drive(row).Handle, TFakePassThroughPort::HandleOf(slot));
    EXPECT_STREQ(a.Drive(row).Identity, ("VEND" + std::to_string(slot) + "   MODEL").c_str());
    EXPECT_STREQ(a.Drive(row).Revision, ("R" + std::to_string(slot)).c_str());
  }
  EXPECT_EQ(a.DriveHandle(), TFakePassThroughPort::HandleOf(3));  // row 0 selected
  EXPECT_EQ(port.examined.size(), 25u);                           // slots 0 .. 24
  // The fifth is named, not kept open.
  EXPECT_EQ(port.closed, std::vector<TDeviceHandle>{TFakePassThroughPort::HandleOf(7)});
  ASSERT_EQ(a.UnreachedDrives().size(), 1u);
  EXPECT_EQ(a.UnreachedDrives()[0].identity, "VEND7   MODEL");
  EXPECT_EQ(a.UnreachedDrives()[0].revision, "R7");
}

TEST_F(PassThroughTest, OnlyTheFirstTwentyFiveSlotsAreExamined) {
  port.slots.clear();
  port.slotCount = 27;  // a port that offers more candidates than there are letters A..Y
  port.slots[24] = {};
  port.slots[25] = {};
  port.slots[26] = {};
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 1);
  EXPECT_EQ(a.Drive(0).Handle, TFakePassThroughPort::HandleOf(24));
  EXPECT_EQ(a.Drive(1).Handle, 0);
  EXPECT_EQ(port.examined.size(), 25u);
  EXPECT_EQ(a.LastOpenedHandle(), TFakePassThroughPort::HandleOf(24));
}

TEST_F(PassThroughTest, DriveThatRefusesToOpenIsSkipped) {
  port.slots.clear();
  port.slots[1].openError = ENXIO;
  port.slots[2] = {};
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 1);
  EXPECT_EQ(a.Drive(0).Handle, TFakePassThroughPort::HandleOf(2));
  EXPECT_TRUE(sink.messages.empty());
  atapi.reset();
  EXPECT_EQ(port.closed, std::vector<TDeviceHandle>{TFakePassThroughPort::HandleOf(2)});
}

TEST_F(PassThroughTest, RefusedOpensGiveOneAccessHintNamingTheDevice) {
  port.slots.clear();
  port.slots[0].openError = EACCES;
  port.slots[1].openError = EPERM;
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 0);
  EXPECT_EQ(a.LastOpenedHandle(), kInvalidHandle);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("/dev/sr0"), std::string::npos);
  atapi.reset();
  EXPECT_TRUE(port.closed.empty());  // the invalid handle is never closed
}

TEST_F(PassThroughTest, NoDriveLeavesAnAllZeroRowSelected) {
  port.slots.clear();
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 0);
  EXPECT_EQ(a.LastOpenedHandle(), 0);
  EXPECT_EQ(a.DriveHandle(), 0);
  EXPECT_EQ(a.Drive(0).Identity[0], 0);
  EXPECT_TRUE(a.IsNtPlatform());
  EXPECT_EQ(a.NtPlatform(), 1);
}

TEST_F(PassThroughTest, FailedInquiryGivesAnEmptyIdentity) {
  port.replies = {{EIO, 2, {}}};
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 1);
  EXPECT_EQ(a.Drive(0).Identity[0], 0);
  EXPECT_EQ(a.Drive(0).Revision[0], 0);
}

TEST_F(PassThroughTest, IdentityCopyStopsAtNulAndSelectDriveCopiesARow) {
  port.slots[0].inquiry = InquiryData(std::string("AB\0CDEFGH", 9), "1.0");
  port.slots[5] = {};
  TAtapi& a = Make();
  EXPECT_EQ(std::memcmp(a.Drive(0).Identity, "AB\0\0\0\0\0\0\0", 9), 0);
  EXPECT_EQ(a.Drive(0).Identity[24], 0);
  a.SetTarget(1, 2, 3);
  a.SelectDrive(1);
  EXPECT_EQ(a.DriveHandle(), TFakePassThroughPort::HandleOf(5));
  EXPECT_EQ(a.HaId() + a.TargetId() + a.Lun(), 0);
  a.SelectDrive(kDriveTableRows);  // outside the table: ignored
  a.SelectDrive(-1);
  EXPECT_EQ(a.DriveHandle(), TFakePassThroughPort::HandleOf(5));
}

TEST_F(AspiTest, ScanOrderIsAdapterThenTargetThenLun) {
  port.adapters = 2;
  port.devices.clear();
  port.devices[{1, 0, 0}] = 5;
  port.devices[{0, 3, 1}] = 5;
  port.devices[{0, 3, 0}] = 0;  // disk: skipped
  port.devices[{0, 1, 7}] = 5;
  TAtapi& a = Make();
  ASSERT_EQ(a.DriveCount(), 3);
  const std::vector<std::tuple<int, int, int>> expected = {{0, 1, 7}, {0, 3, 1}, {1, 0, 0}};
  for (int row = 0; row < 3; ++row) {
    const DriveEntry& e = a.Drive(row);
    EXPECT_EQ(std::make_tuple(int(e.HaId), int(e.TargetId), int(e.Lun)), expected[row]);
    EXPECT_EQ(e.Handle, 0);
    EXPECT_STREQ(e.Identity, "VENDOR  PRODUCT         ");
  }
  EXPECT_EQ(port.probes.size(), 128u);
  EXPECT_EQ(std::make_tuple(a.HaId(), a.TargetId(), a.Lun()), std::make_tuple(0, 1, 7));
  EXPECT_FALSE(a.IsNtPlatform());
}

TEST_F(AspiTest, IdentityIsCopiedRawButTheRevisionStopsAtNul) {
  const std::string identity("AB\0CDEFGH      MODEL    ", 24);
  port.inquiry = InquiryData(identity, std::string("1\0.5", 4));
  TAtapi& a = Make();
  ASSERT_EQ(a.DriveCount(), 1);
  // All 24 identity bytes as the drive sent them, a NUL among them included; then a NUL.
  EXPECT_EQ(std::string(a.Drive(0).Identity, 24), identity);
  EXPECT_EQ(a.Drive(0).Identity[24], 0);
  EXPECT_EQ(std::string(a.Drive(0).Revision, 8), std::string(8, '\0').replace(0, 1, "1"));
}

TEST_F(AspiTest, DiscoveryStopsWhenTheTableIsFull) {
  port.devices.clear();
  for (int i = 0; i < 21; ++i) port.devices[{0, uint8_t(i / 8), uint8_t(i % 8)}] = 5;
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), kDriveTableRows);
  EXPECT_EQ(a.Drive(19).TargetId, 2);
  EXPECT_EQ(a.Drive(19).Lun, 3);
}

TEST_F(AspiTest, PendingProbeIsPolledWithMessagePumps) {
  port.pendingPumps = 3;
  sink.onPump = [this] { port.CompletePendingProbe(); };
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 1);
  EXPECT_EQ(sink.pumps, 3);
}

TEST_F(AspiTest, ProbeThatNeverCompletesCountsAsNoDeviceAfterThirtySeconds) {
  port.pendingPumps = 1;  // nothing completes it
  const uint64_t start = clock.NowMs();
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 0);
  EXPECT_GE(clock.NowMs() - start, 30000u);
  EXPECT_LT(clock.NowMs() - start, 31000u);
}

TEST_F(AspiTest, FailedInquiryStillCountsWithAnEmptyIdentity) {
  port.replies = {{TAspiReply::Immediate, SS_ERR, 2, {}}};
  TAtapi& a = Make();
  EXPECT_EQ(a.DriveCount(), 1);
  EXPECT_EQ(std::memcmp(a.Drive(0).Identity, std::string(25, '\0').data(), 25), 0);
}

TEST_F(AspiTest, MissingManagerShowsTheMessageAndFindsNothing) {
  port.loadOk = false;
  TAtapi& a = Make();
  EXPECT_EQ(sink.messages, std::vector<std::string>{"WNASPI32.DLL not found"});
  EXPECT_EQ(a.DriveCount(), 0);
  EXPECT_TRUE(port.probes.empty());
  EXPECT_EQ(a.ExecRequest(), nullptr);
  EXPECT_EQ(a.TestUnitReady(), 4);  // a command without a manager fails, it never crashes
  atapi.reset();
  EXPECT_EQ(port.unloads, 0);
}

TEST_F(AspiTest, DestructionUnloadsTheManager) {
  Make();
  atapi.reset();
  EXPECT_EQ(port.unloads, 1);
}

TEST(AtapiUnit, CounterConstructsOnceAndDestroysOnce) {
  TFakeAspiPort port;
  TRecordingSink sink;
  TAtapiConfig config;
  config.passThrough = false;
  config.aspiPort = &port;
  config.sink = &sink;
  EXPECT_FALSE(AtapiExists());
  AtapiUnitInitialize(config);
  AtapiUnitInitialize(config);
  EXPECT_EQ(port.loads, 1);
  EXPECT_TRUE(AtapiExists());
  EXPECT_FALSE(Atapi().IsNtPlatform());
  AtapiUnitFinalize();
  EXPECT_TRUE(AtapiExists());
  AtapiUnitFinalize();
  EXPECT_FALSE(AtapiExists());
  EXPECT_EQ(port.unloads, 1);
}

}  // namespace
}  // namespace tavo
