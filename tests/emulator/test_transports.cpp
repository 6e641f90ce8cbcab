// The virtual bus behind the real TAtapi, on both transports: block filling, status mapping
// and sense keeping run unchanged, only the kernel is replaced.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "emulator/virtual_bus.h"
#include "test_support.h"

namespace tavo {
namespace {

using namespace test;

struct TRecordingSink : TAtapiSink {
  void ShowPlainMessage(const std::string& text) override { messages.push_back(text); }
  void PumpMessage() override {}
  std::vector<std::string> messages;
};

struct TBusHarness {
  explicit TBusHarness(bool passThrough, std::vector<std::string> profiles = {"default"}) {
    for (const auto& name : profiles) bus.AddDrive(*FindProfile(name));
    TAtapiConfig config;
    config.passThrough = passThrough;
    config.passThroughPort = &bus;
    config.aspiPort = &bus;
    config.sink = &sink;
    config.clock = &clock;
    atapi = std::make_unique<TAtapi>(config);
  }
  TVirtualClock clock;
  TRecordingSink sink;
  TVirtualBus bus{clock};
  std::unique_ptr<TAtapi> atapi;
};

class BothTransports : public ::testing::TestWithParam<bool> {};

TEST_P(BothTransports, FlashThroughTAtapiLeavesTheSentBytesAndComesBackReady) {
  TBusHarness h(GetParam());
  ASSERT_EQ(h.atapi->DriveCount(), 1);
  EXPECT_EQ(std::string(h.atapi->Drive(0).Identity), "TAVO    QRD-1040C       ");
  TVirtualDrive& drive = h.bus.Drive(0);

  std::vector<std::vector<uint8_t>> banks;
  for (unsigned b = 0; b < 8; ++b) {
    banks.push_back(BankPattern(b, kImageBankLengths[b]));
    ASSERT_EQ(h.atapi->FlashWrite(banks[b].data(), scsi::kFlashModeDownload,
                                  static_cast<uint8_t>(b), kImageBankLengths[b], 0),
              1);
  }
  ASSERT_EQ(
      h.atapi->FlashWrite(nullptr, scsi::kFlashModeCommit, scsi::kSelectorCommitE0 + 8, 0, 0xA8B4),
      1);

  // Polled once a second, as the flash procedure does: not ready, then ready.
  int polls = 0;
  while (h.atapi->TestUnitReady() != 1) {
    EXPECT_EQ(h.atapi->LastSenseKey(), scsi::kNotReady);
    EXPECT_EQ(h.atapi->LastAsc(), scsi::kAscLogicalUnitNotReady);
    h.clock.Sleep(1000);
    ASSERT_LT(++polls, 120);
  }
  EXPECT_EQ(polls, static_cast<int>((drive.Profile().programmingTimeMs + 999) / 1000));

  for (unsigned b = 0; b < 8; ++b) {
    uint32_t sum = 0;
    for (uint32_t off = 0; off < kImageBankLengths[b]; off += 256) {
      uint8_t piece[256] = {};
      ASSERT_EQ(h.atapi->ReadMemory(piece, static_cast<uint8_t>(b), static_cast<uint16_t>(off)), 1);
      const uint32_t n = std::min<uint32_t>(256, kImageBankLengths[b] - off);
      ASSERT_TRUE(std::equal(piece, piece + n, banks[b].begin() + off));
      for (uint32_t i = 0; i < n; ++i) sum += piece[i];
    }
    EXPECT_EQ(static_cast<uint16_t>(sum), FlashBankSum(drive, b, kImageBankLengths[b]));
  }
}

// Sense describes the last command only, on both transports.
TEST_P(BothTransports, SenseOfAFailedCommandIsGoneAfterTheNextCommand) {
  const bool passThrough = GetParam();
  TBusHarness h(passThrough);
  uint8_t piece[256] = {};
  EXPECT_EQ(h.atapi->ReadMemory(piece, 9, 0), passThrough ? 2 : SS_ERR);
  EXPECT_EQ(h.atapi->LastTargetStatus(), 2);
  EXPECT_EQ(h.atapi->LastSenseKey(), scsi::kIllegalRequest);
  EXPECT_EQ(h.atapi->LastAsc(), scsi::kAscInvalidFieldInCdb);

  ASSERT_EQ(h.atapi->TestUnitReady(), 1);
  EXPECT_EQ(h.atapi->LastTargetStatus(), 0);
  EXPECT_EQ(h.atapi->LastSenseKey(), scsi::kNoSense);
  EXPECT_EQ(h.atapi->LastAsc(), 0);
}

TEST_P(BothTransports, LatencyIsVirtualTimeAndTheCommandStillCompletes) {
  TBusHarness h(GetParam());
  h.bus.Drive(0).InjectFault(TFault::Delay(TCommandKind::Inquiry, 7000, 1));
  const uint64_t start = h.clock.NowMs();
  uint8_t inquiry[50] = {};
  EXPECT_EQ(h.atapi->Inquiry(inquiry), 1);
  EXPECT_EQ(h.clock.NowMs() - start, 7000u);
  EXPECT_EQ(inquiry[0], scsi::kDeviceTypeOptical);
  EXPECT_EQ(inquiry[38], 'W');
}

TEST_P(BothTransports, ACommandWithNoDriveSelectedReachesNoDrive) {
  TBusHarness h(GetParam(), {"default", "default"});
  h.atapi->SelectDrive(7);  // a row without a drive
  for (int k = 0; k < 2; ++k) h.bus.Drive(k).ClearHistory();
  EXPECT_NE(h.atapi->TestUnitReady(), 1);
  uint8_t piece[256] = {};
  EXPECT_NE(h.atapi->ReadMemory(piece, 0, 0), 1);
  for (int k = 0; k < 2; ++k) EXPECT_TRUE(h.bus.Drive(k).History().empty()) << "drive " << k;
  h.atapi->SelectDrive(1);
  EXPECT_EQ(h.atapi->TestUnitReady(), 1);
  EXPECT_EQ(h.bus.Drive(1).History().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, BothTransports, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PassThrough" : "Aspi"; });

TEST(PassThroughBus, LostCompletionTimesOutAfterTwentySecondsWithoutStatus) {
  TVirtualClock clock;
  TVirtualBus bus(clock);
  bus.AddDrive(*FindProfile("default")).InjectFault(TFault::Lose(TCommandKind::TestUnitReady));
  int error = 0;
  const TDeviceHandle h = bus.Open(0, error);
  ASSERT_GT(h, 2);
  TPassThroughBlock block;
  block.Sptd.CdbLength = 12;
  block.Sptd.SenseInfoLength = kPassThroughSenseLength;
  block.Sptd.TimeOutValue = kPassThroughTimeoutSec;
  block.Sptd.ScsiStatus = 0x55;
  const uint64_t start = clock.NowMs();
  EXPECT_EQ(bus.Execute(h, block), ETIMEDOUT);
  EXPECT_EQ(block.Sptd.ScsiStatus, 0);
  EXPECT_EQ(clock.NowMs() - start, 20000u);
  // The next one runs normally.
  EXPECT_EQ(bus.Execute(h, block), 0);
  // Handles that were never opened (0 is "no drive"), or are closed again, are refused.
  EXPECT_EQ(bus.Execute(0, block), EBADF);
  bus.Close(h);
  EXPECT_EQ(bus.Execute(h, block), EBADF);
}

TEST(PassThroughBus, RefusalsReachTheUserAsSystemErrors) {
  TBusHarness h(true);
  h.bus.Drive(0).InjectFault(TFault::Refuse(TCommandKind::TestUnitReady, EACCES));
  EXPECT_EQ(h.atapi->TestUnitReady(), 0);
  EXPECT_FALSE(h.sink.messages.empty());
  // A slot whose device refuses to open is skipped, the next one is still examined.
  TVirtualClock clock;
  TVirtualBus bus(clock);
  bus.AddDrive(*FindProfile("default"));
  bus.AddDrive(*FindProfile("normal-mode"));
  bus.InjectOpenError(0, EACCES);
  TRecordingSink sink;
  TAtapi atapi({true, &bus, &bus, &sink, &clock});
  EXPECT_EQ(atapi.DriveCount(), 1);
  EXPECT_EQ(atapi.DeviceName(0), "emulated:sr1");
}

TEST(AspiBus, AddressesAdaptersTargetsAndDeviceTypes) {
  TVirtualClock clock;
  TVirtualBus bus(clock);
  for (int i = 0; i < 10; ++i) bus.AddDrive(*FindProfile("default"));
  ASSERT_TRUE(bus.Load());
  EXPECT_EQ(bus.GetSupportInfo() & 0xFF, 2u);
  TSrbGDEVBlock probe;
  probe.SRB_Cmd = SC_GET_DEV_TYPE;
  probe.SRB_HaId = 1;
  probe.SRB_Target = 1;
  EXPECT_EQ(bus.SendGetDevType(probe), SS_COMP);
  EXPECT_EQ(probe.SRB_DeviceType, 5);
  probe.SRB_Target = 2;  // drive 10 does not exist
  EXPECT_EQ(bus.SendGetDevType(probe), SS_NO_DEVICE);
  probe.SRB_Target = 0;
  probe.SRB_Lun = 1;
  EXPECT_EQ(bus.SendGetDevType(probe), SS_NO_DEVICE);
  probe.SRB_HaId = 2;
  probe.SRB_Lun = 0;
  EXPECT_EQ(bus.SendGetDevType(probe), SS_INVALID_HA);

  // Without the manager there is no drive at all.
  TVirtualBus none(clock);
  none.AddDrive(*FindProfile("default"));
  none.SetAspiAvailable(false);
  TRecordingSink sink;
  TAtapi atapi({false, &none, &none, &sink, &clock});
  EXPECT_EQ(atapi.DriveCount(), 0);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], "WNASPI32.DLL not found");
}

TEST(PassThroughBus, TAtapiClosesEveryHandleItOpenedOnceAndNoOther) {
  TVirtualClock clock;
  TVirtualBus bus(clock);
  for (int k = 0; k < 6; ++k) bus.AddDrive(*FindProfile("default"));
  bus.InjectOpenError(2, EBUSY);
  TRecordingSink sink;
  {
    TAtapi atapi({true, &bus, &bus, &sink, &clock});
    EXPECT_EQ(atapi.DriveCount(), 4);  // five opened, four counted
    EXPECT_EQ(bus.OpenHandles(), 4);   // the fifth let go at once
  }
  EXPECT_EQ(bus.OpenHandles(), 0);
  EXPECT_EQ(bus.BadCloses(), 0);
}

// The sense area is filled as the kernel's sg driver fills it: only after CHECK CONDITION,
// 8 + additional-length bytes cut to the requested length, the rest left as it was.
TEST(AspiBus, SenseAreaIsFilledAsTheSgDriverFillsIt) {
  TBusHarness h(false);
  ASSERT_TRUE(h.bus.Load());
  auto send = [&](uint8_t senseLength) {
    TSrbExecSCSICmd srb;
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_CDBLen = 6;
    srb.SRB_SenseLen = senseLength;
    std::memset(srb.SenseArea, 0xEE, sizeof srb.SenseArea);
    h.bus.SendExec(srb);  // TEST UNIT READY: an all-zero CDB
    return srb;
  };
  TSrbExecSCSICmd good = send(kAspiSenseLength);
  EXPECT_EQ(good.SRB_Status, SS_COMP);
  EXPECT_EQ(good.SenseArea[0], 0xEE);

  h.bus.Drive(0).InjectFault(
      TFault::Check(TCommandKind::TestUnitReady, scsi::kSenseMediumNotPresent, 2));
  TSrbExecSCSICmd full = send(sizeof full.SenseArea);
  EXPECT_EQ(full.SRB_TargStat, scsi::kStatusCheckCondition);
  EXPECT_EQ(full.SenseArea[scsi::kSenseKeyByte], scsi::kSenseMediumNotPresent.key);
  EXPECT_EQ(full.SenseArea[scsi::kSenseAscByte], scsi::kSenseMediumNotPresent.asc);
  EXPECT_EQ(full.SenseArea[17], 0);  // 8 + 10 bytes: all 18 written

  TSrbExecSCSICmd cut = send(kAspiSenseLength);
  EXPECT_EQ(cut.SenseArea[scsi::kSenseAscByte], scsi::kSenseMediumNotPresent.asc);
  EXPECT_EQ(cut.SenseArea[kAspiSenseLength], 0xEE);
}

TEST(AspiBus, LostCompletionIsAbortedAndNeverWritesIntoTheRequestLater) {
  TBusHarness h(false);
  TVirtualDrive& drive = h.bus.Drive(0);
  drive.InjectFault(TFault::Lose(TCommandKind::ReadMemory));
  uint8_t piece[256] = {};
  const uint64_t start = h.clock.NowMs();
  EXPECT_EQ(h.atapi->ReadMemory(piece, 0, 0), 4);
  EXPECT_EQ(h.clock.NowMs() - start, 30000u);
  EXPECT_EQ(h.bus.PendingRequests(), 0);

  // A request with latency beyond the wait: timed out, aborted, and its data never arrives
  // in the caller's buffer even when the bus is waited on afterwards.
  drive.InjectFault(TFault::Delay(TCommandKind::ReadMemory, 45000, 1));
  std::vector<uint8_t> late(256, 0x77);
  EXPECT_EQ(h.atapi->ReadMemory(late.data(), 0, 0), 4);
  EXPECT_EQ(h.bus.PendingRequests(), 0);
  const TEventHandle e = h.bus.CreateEvent();
  EXPECT_EQ(h.bus.WaitEvent(e, 60000), TWaitResult::TimedOut);
  h.bus.CloseEvent(e);
  EXPECT_EQ(late, std::vector<uint8_t>(256, 0x77));
  EXPECT_EQ(h.atapi->ReadMemory(piece, 0, 0), 1);
}

TEST(AspiBus, SystemRefusalEndsWithErrorAndNoSense) {
  TBusHarness h(false);
  h.bus.Drive(0).InjectFault(TFault::Refuse(TCommandKind::FlashStatus, EIO));
  uint8_t status[10] = {};
  EXPECT_EQ(h.atapi->FlashStatus(status), SS_ERR);
  EXPECT_EQ(h.atapi->LastSenseKey(), 0);
  EXPECT_EQ(h.atapi->FlashStatus(status), 1);
}

}  // namespace
}  // namespace tavo
