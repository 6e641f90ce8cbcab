#include "tests/kernel/bot_target.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_drive.h"

namespace tavo::kernel {
namespace {

std::vector<uint8_t> Cbw(uint32_t tag, uint32_t length, bool in, std::vector<uint8_t> cdb) {
  std::vector<uint8_t> b(kCbwSize, 0);
  const uint32_t sig = 0x43425355;
  for (int i = 0; i < 4; ++i) {
    b[i] = uint8_t(sig >> (8 * i));
    b[4 + i] = uint8_t(tag >> (8 * i));
    b[8 + i] = uint8_t(length >> (8 * i));
  }
  b[12] = in ? 0x80 : 0x00;
  b[14] = uint8_t(cdb.size());
  std::memcpy(b.data() + 15, cdb.data(), std::min<size_t>(cdb.size(), 16));
  return b;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

TEST(ParseCbw, TakesAWellFormedWrapperWithItsTwelveByteVendorCdb) {
  const std::vector<uint8_t> cdb = {0x5A, 0, 0x38, 0x41, 0x53, 0xA0, 4, 0xE8, 0, 0, 0x12, 0x34};
  auto bytes = Cbw(0xA1B2C3D4, 0x10000, false, cdb);
  bytes[15 + 12] = 0xEE;  // garbage past the CDB length must not reach the drive
  const auto cbw = ParseCbw(bytes.data(), bytes.size());
  ASSERT_TRUE(cbw);
  EXPECT_EQ(cbw->tag, 0xA1B2C3D4u);
  EXPECT_EQ(cbw->dataLength, 0x10000u);
  EXPECT_FALSE(cbw->dataIn);
  EXPECT_EQ(cbw->cdbLength, 12);
  EXPECT_TRUE(std::equal(cdb.begin(), cdb.end(), cbw->cdb.begin()));
  EXPECT_EQ(cbw->cdb[10], 0x12);  // bytes 10 and 11 carry the commit checksum
  EXPECT_EQ(cbw->cdb[12], 0);
}

TEST(ParseCbw, RejectsMalformedWrappers) {
  const auto good = Cbw(1, 0, true, {0x00, 0, 0, 0, 0, 0});
  ASSERT_TRUE(ParseCbw(good.data(), good.size()));
  EXPECT_FALSE(ParseCbw(good.data(), good.size() - 1));
  EXPECT_FALSE(ParseCbw(nullptr, kCbwSize));
  auto bad = good;
  bad[0] ^= 1;  // signature
  EXPECT_FALSE(ParseCbw(bad.data(), bad.size()));
  bad = good;
  bad[14] = 0;  // no CDB
  EXPECT_FALSE(ParseCbw(bad.data(), bad.size()));
  bad[14] = 17;  // longer than the wrapper holds
  EXPECT_FALSE(ParseCbw(bad.data(), bad.size()));
  bad = good;
  bad[12] = 0x81;  // reserved flag bit
  EXPECT_FALSE(ParseCbw(bad.data(), bad.size()));
}

TEST(BuildCsw, LaysOutSignatureTagResidueAndStatus) {
  const auto csw = BuildCsw(0x01020304, 46, TCswStatus::Failed);
  EXPECT_EQ(Le32(csw.data()), 0x53425355u);
  EXPECT_EQ(Le32(csw.data() + 4), 0x01020304u);
  EXPECT_EQ(Le32(csw.data() + 8), 46u);
  EXPECT_EQ(csw[12], 1);
}

// A drive function that records what it was given and answers as told.
struct TScriptedDrive {
  TCommandResult answer;
  std::vector<uint8_t> fill;  // written into the buffer for data-in
  int calls = 0;
  TDataDirection direction = TDataDirection::None;
  uint32_t length = 0;
  bool gotBuffer = false;
  std::vector<uint8_t> received;

  TBotTarget::TExecute Fn() {
    return [this](const uint8_t*, size_t, uint8_t* data, uint32_t len, TDataDirection dir) {
      ++calls;
      direction = dir;
      length = len;
      gotBuffer = data != nullptr;
      if (dir == TDataDirection::Out) received.assign(data, data + len);
      if (dir == TDataDirection::In) {
        std::memset(data, 0xCC, len);  // scribbles past what it claims to have written
        std::memcpy(data, fill.data(), std::min<size_t>(fill.size(), len));
      }
      return answer;
    };
  }
};

TCbw Parse(const std::vector<uint8_t>& bytes) {
  return *ParseCbw(bytes.data(), bytes.size());
}

TEST(BotTarget, DataInIsPaddedToTheAskedLengthAndTheResidueTellsWhatIsReal) {
  TScriptedDrive drive;
  drive.fill.assign(50, 0x11);
  drive.answer.transferred = 50;
  TBotTarget target(drive.Fn(), 1 << 20);
  std::vector<uint8_t> data;
  const auto csw = target.Run(Parse(Cbw(7, 96, true, {0x12, 0, 0, 0, 96, 0})), data);
  EXPECT_EQ(drive.direction, TDataDirection::In);
  EXPECT_EQ(drive.length, 96u);
  ASSERT_EQ(data.size(), 96u);
  EXPECT_EQ(data[49], 0x11);
  EXPECT_EQ(data[50], 0x00);  // not the drive's unclaimed bytes
  EXPECT_EQ(Le32(csw.data() + 8), 46u);
  EXPECT_EQ(csw[12], 0);

  drive.answer.transferred = 5000;  // a drive claiming more than was asked
  const auto over = target.Run(Parse(Cbw(8, 96, true, {0x12, 0, 0, 0, 96, 0})), data);
  EXPECT_EQ(Le32(over.data() + 8), 0u);
  EXPECT_EQ(data.size(), 96u);
}

TEST(BotTarget, DataOutReachesTheDriveAndNoDataMeansNoBuffer) {
  TScriptedDrive drive;
  TBotTarget target(drive.Fn(), 1 << 20);
  std::vector<uint8_t> data = {1, 2, 3, 4};
  drive.answer.transferred = 4;
  target.Run(Parse(Cbw(1, 4, false, {0x5A, 0, 0x38, 0x41, 0x53, 0xA2})), data);
  EXPECT_EQ(drive.direction, TDataDirection::Out);
  EXPECT_EQ(drive.received, (std::vector<uint8_t>{1, 2, 3, 4}));

  data.clear();
  const auto csw = target.Run(Parse(Cbw(2, 0, false, {0x00, 0, 0, 0, 0, 0})), data);
  EXPECT_EQ(drive.direction, TDataDirection::None);
  EXPECT_FALSE(drive.gotBuffer);
  EXPECT_EQ(csw[12], 0);
}

TEST(BotTarget, PhaseErrorsNeverReachTheDrive) {
  TScriptedDrive drive;
  TBotTarget target(drive.Fn(), 4096);
  std::vector<uint8_t> data;
  auto csw = target.Run(Parse(Cbw(1, 4097, true, {0x12, 0, 0, 0, 0, 0})), data);
  EXPECT_EQ(csw[12], 2);
  data.assign(10, 0);  // data-out shorter than the wrapper announced
  csw = target.Run(Parse(Cbw(2, 20, false, {0x5A, 0, 0x38, 0x41, 0x53, 0xA0})), data);
  EXPECT_EQ(csw[12], 2);
  EXPECT_EQ(drive.calls, 0);
}

TEST(BotTarget, SenseOfAFailedCommandIsServedOnceByRequestSense) {
  TScriptedDrive drive;
  drive.answer.status = 2;
  drive.answer.senseLength = 18;
  drive.answer.sense = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00};
  TBotTarget target(drive.Fn(), 1 << 20);
  std::vector<uint8_t> data;
  auto csw = target.Run(Parse(Cbw(1, 0, false, {0x5A, 0, 0x38, 0x41, 0x53, 0xA0})), data);
  EXPECT_EQ(csw[12], 1);

  const auto requestSense = Parse(Cbw(2, 18, true, {0x03, 0, 0, 0, 18, 0}));
  csw = target.Run(requestSense, data);
  EXPECT_EQ(csw[12], 0);
  ASSERT_EQ(data.size(), 18u);
  EXPECT_EQ(data[2], 0x06);
  EXPECT_EQ(data[12], 0x29);
  EXPECT_EQ(drive.calls, 1);  // answered here, not by the drive

  target.Run(requestSense, data);  // asked again: nothing pending
  EXPECT_EQ(data[0], 0x70);
  EXPECT_EQ(data[2], 0x00);

  // Sense is that of the last command: a command that passes clears it, and the
  // allocation length bounds the reply.
  target.Run(Parse(Cbw(3, 0, false, {0x00, 0, 0, 0, 0, 0})), data);
  drive.answer = {};
  target.Run(Parse(Cbw(4, 0, false, {0x00, 0, 0, 0, 0, 0})), data);
  target.Run(Parse(Cbw(5, 18, true, {0x03, 0, 0, 0, 18, 0})), data);
  EXPECT_EQ(data[2], 0x00);
  drive.answer.status = 2;
  drive.answer.senseLength = 18;
  drive.answer.sense[2] = 0x05;
  target.Run(Parse(Cbw(6, 0, false, {0x00, 0, 0, 0, 0, 0})), data);
  csw = target.Run(Parse(Cbw(7, 18, true, {0x03, 0, 0, 0, 8, 0})), data);
  EXPECT_EQ(data[2], 0x05);
  EXPECT_EQ(Le32(csw.data() + 8), 10u);
}

TEST(BotTarget, RefusedRequestsFailWithAbortedCommand) {
  TScriptedDrive drive;
  drive.answer.systemError = 5;
  TBotTarget target(drive.Fn(), 1 << 20);
  std::vector<uint8_t> data;
  auto csw = target.Run(Parse(Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0})), data);
  EXPECT_EQ(csw[12], 1);
  target.Run(Parse(Cbw(2, 18, true, {0x03, 0, 0, 0, 18, 0})), data);
  EXPECT_EQ(data[2], 0x0B);
}

TEST(BotTarget, ServesTheVirtualDriveAsAnOpticalDrive) {
  TVirtualClock clock;
  TVirtualDrive drive(*FindProfile("default"), clock);
  TBotTarget target([&](const uint8_t* cdb, size_t n, uint8_t* data, uint32_t len,
                        TDataDirection dir) { return drive.Execute(cdb, n, data, len, dir); },
                    1 << 20);
  std::vector<uint8_t> data;
  const auto csw = target.Run(Parse(Cbw(1, 36, true, {0x12, 0, 0, 0, 36, 0})), data);
  EXPECT_EQ(csw[12], 0);
  ASSERT_EQ(data.size(), 36u);
  EXPECT_EQ(data[0] & 0x1F, 5);  // CD/DVD device: the host attaches sr
  EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "TAVO    ");
}

}  // namespace
}  // namespace tavo::kernel
