#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/linux/linux_ports.h"
#include "drive/scsi.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;

// A throw-away /dev + /sys tree.
class FakeTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo_drive_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "dev");
    fs::create_directories(root / "sys");
  }
  void TearDown() override { fs::remove_all(root); }
  void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  // /sys/class/scsi_generic/sgN/device -> a device directory named address, with its type.
  void AddSg(int index, const std::string& address, int type) {
    const fs::path device = root / "sys/devices/pci0/target" / address;
    Write(device / "type", std::to_string(type) + "\n");
    const fs::path dir = root / "sys/class/scsi_generic" / ("sg" + std::to_string(index));
    fs::create_directories(dir);
    fs::create_directory_symlink(device, dir / "device");
  }
  std::string Dev() const { return (root / "dev").string(); }
  std::string Sys() const { return (root / "sys").string(); }
  fs::path root;
};

TEST(SgHeader, BuiltFromThePassThroughBlock) {
  TPassThroughBlock block;
  uint8_t data[256];
  block.Sptd.CdbLength = 12;
  block.Sptd.SenseInfoLength = 24;
  block.Sptd.DataIn = kDataIn;
  block.Sptd.DataTransferLength = sizeof data;
  block.Sptd.TimeOutValue = 20;
  block.Sptd.DataBuffer = data;
  block.Sptd.Cdb[0] = scsi::kOpModeSense10;
  sg_io_hdr h = BuildSgIoHeader(block);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, 256u);
  EXPECT_EQ(h.dxferp, data);
  EXPECT_EQ(h.cmd_len, 12);
  EXPECT_EQ(h.cmdp, block.Sptd.Cdb);
  EXPECT_EQ(h.mx_sb_len, 24);
  EXPECT_EQ(h.sbp, block.SenseBuf);
  EXPECT_EQ(h.timeout, 20000u);
  EXPECT_TRUE(h.flags & SG_FLAG_DIRECT_IO);

  block.Sptd.DataIn = kDataOut;
  block.Sptd.DataTransferLength = 0;  // a zero-length write carries no data
  h = BuildSgIoHeader(block);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(h.dxfer_len, 0u);
  EXPECT_EQ(h.dxferp, nullptr);
}

TEST(SgHeader, DirectionMapping) {
  EXPECT_EQ(SgDirectionForDataIn(kDataOut, 10), SG_DXFER_TO_DEV);
  EXPECT_EQ(SgDirectionForDataIn(kDataUnspecified, 0), SG_DXFER_NONE);
  EXPECT_EQ(SgDirectionForDataIn(kDataUnspecified, 10), SG_DXFER_TO_FROM_DEV);
  EXPECT_EQ(SgDirectionForSrbFlags(0x48, 50), SG_DXFER_FROM_DEV);
  EXPECT_EQ(SgDirectionForSrbFlags(0x50, 50), SG_DXFER_TO_DEV);
  EXPECT_EQ(SgDirectionForSrbFlags(0x50, 0), SG_DXFER_NONE);
  EXPECT_EQ(SgDirectionForSrbFlags(0x40, 0), SG_DXFER_NONE);
}

TEST(SgOutcome, ErrnoAndHostStatusMapping) {
  TPassThroughBlock block;
  sg_io_hdr h{};
  EXPECT_EQ(MapSgIoOutcome(-1, EACCES, h, block), EACCES);
  EXPECT_EQ(MapSgIoOutcome(-1, ENOTTY, h, block), ENOTTY);

  h.status = 2;
  h.driver_status = 0x08;  // sense present: not a transport fault
  EXPECT_EQ(MapSgIoOutcome(0, 0, h, block), 0);
  EXPECT_EQ(block.Sptd.ScsiStatus, 2);

  h = {};
  h.host_status = 0x03;  // DID_TIME_OUT
  EXPECT_EQ(MapSgIoOutcome(0, 0, h, block), ETIMEDOUT);
  EXPECT_EQ(block.Sptd.ScsiStatus, 0);
  h.host_status = 0x07;  // DID_ERROR
  EXPECT_EQ(MapSgIoOutcome(0, 0, h, block), EIO);
  h = {};
  h.driver_status = 0x06;
  EXPECT_EQ(MapSgIoOutcome(0, 0, h, block), ETIMEDOUT);
  h.driver_status = 0x28;  // sense plus a suggestion bit
  EXPECT_EQ(MapSgIoOutcome(0, 0, h, block), EIO);
}

TEST(Sysfs, ParsesAddressesStrictly) {
  int h, c, t, l;
  EXPECT_TRUE(ParseScsiAddress("12:0:3:1", h, c, t, l));
  EXPECT_EQ(h * 1000 + c * 100 + t * 10 + l, 12031);
  for (const char* bad : {"1:0:3", "1:0:3:1:2", "a:0:0:0", "1::0:0", "", "target1:0:0"}) {
    EXPECT_FALSE(ParseScsiAddress(bad, h, c, t, l)) << bad;
  }
}

TEST_F(FakeTree, SysfsIntegers) {
  Write(root / "a", "5\n");
  Write(root / "b", "x5\n");
  Write(root / "c", "");
  EXPECT_EQ(ReadSysfsInt((root / "a").string()), 5);
  EXPECT_FALSE(ReadSysfsInt((root / "b").string()));
  EXPECT_FALSE(ReadSysfsInt((root / "c").string()));
  EXPECT_FALSE(ReadSysfsInt((root / "missing").string()));
}

TEST_F(FakeTree, PassThroughSlotsNeedABlockDeviceOfTypeFive) {
  TLinuxPassThroughPort port(Dev(), Sys());
  EXPECT_EQ(port.SlotCount(), 25);  // sr0 .. sr24, pinned on purpose
  EXPECT_EQ(port.SlotName(3), Dev() + "/sr3");
  Write(root / "sys/class/block/sr0/device/type", "5\n");
  Write(root / "dev/sr0", "");  // a regular file is not a drive
  EXPECT_FALSE(port.IsOpticalSlot(0));
  EXPECT_FALSE(port.IsOpticalSlot(1));
  EXPECT_FALSE(port.IsOpticalSlot(25));
  int error = 0;
  EXPECT_EQ(port.Open(1, error), kInvalidHandle);
  EXPECT_EQ(error, ENOENT);
  TPassThroughBlock block;
  EXPECT_EQ(port.Execute(0, block), EBADF);  // handle 0 is "no drive", never stdin

  // A real block node (needs the right to create device nodes).
  fs::remove(root / "dev/sr0");
  if (::mknod((root / "dev/sr0").c_str(), S_IFBLK | 0600, makedev(7, 200)) != 0) {
    GTEST_SKIP() << "cannot create a block device node here";
  }
  EXPECT_TRUE(port.IsOpticalSlot(0));
  Write(root / "sys/class/block/sr0/device/type", "0\n");
  EXPECT_FALSE(port.IsOpticalSlot(0));
}

TEST_F(FakeTree, DevicesNeverTakeTheStandardDescriptors) {
  Write(root / "dev/sr0", "");
  TLinuxPassThroughPort port(Dev(), Sys());
  // In a child started with stdout and stderr closed, the device must not land on one of
  // them (a drive on descriptor 2 would receive every message the program prints); with
  // stdin closed as well it must not take descriptor 0, the "no drive" handle.
  EXPECT_EXIT(
      {
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
        int error = 0;
        const TDeviceHandle first = port.Open(0, error);
        const TDeviceHandle second = port.Open(0, error);
        ::close(STDIN_FILENO);
        const TDeviceHandle third = port.Open(0, error);
        const bool ok = first > STDERR_FILENO && second > STDERR_FILENO && third > STDERR_FILENO;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(FakeTree, AspiLoadFailsWithoutTheSgDriver) {
  TLinuxAspiPort port(Dev(), Sys());
  EXPECT_FALSE(port.Load());
  Write(root / "dev/sg0", "");
  EXPECT_TRUE(port.Load());
  EXPECT_EQ(port.GetSupportInfo() & 0xFF, 0u);
}

TEST_F(FakeTree, AspiAdaptersAndDevicesComeFromSysfs) {
  for (const char* host : {"host10", "host2", "host0", "junk"}) {
    fs::create_directories(root / "sys/class/scsi_host" / host);
  }
  AddSg(0, "0:0:0:0", 0);   // disk on host 0
  AddSg(1, "2:0:1:1", 5);   // CD-ROM on host 2 = adapter 1
  AddSg(2, "10:1:0:0", 5);  // channel 1 is not addressed
  TLinuxAspiPort port(Dev(), Sys());
  ASSERT_TRUE(port.Load());
  EXPECT_EQ(port.Hosts(), (std::vector<int>{0, 2, 10}));
  EXPECT_EQ(port.GetSupportInfo() & 0xFF, 3u);

  auto probe = [&](uint8_t ha, uint8_t target, uint8_t lun) {
    TSrbGDEVBlock srb;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    port.SendGetDevType(srb);
    return std::make_pair(srb.SRB_Status, srb.SRB_DeviceType);
  };
  EXPECT_EQ(probe(1, 1, 1), std::make_pair(SS_COMP, uint8_t{5}));
  EXPECT_EQ(probe(0, 0, 0), std::make_pair(SS_COMP, uint8_t{0}));
  EXPECT_EQ(probe(1, 1, 0).first, SS_NO_DEVICE);
  EXPECT_EQ(probe(2, 0, 0).first, SS_NO_DEVICE);
  EXPECT_EQ(probe(3, 0, 0).first, SS_INVALID_HA);

  // The device node is missing: the request fails at once and nothing is pending.
  TSrbExecSCSICmd srb;
  srb.SRB_HaId = 1;
  srb.SRB_Target = 1;
  srb.SRB_Lun = 1;
  srb.SRB_CDBLen = 12;
  srb.SRB_PostProc = port.CreateEvent();
  port.SendExec(srb);
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_EQ(port.WaitEvent(srb.SRB_PostProc, 0), TWaitResult::Failed);
  srb.SRB_HaId = 5;
  port.SendExec(srb);
  EXPECT_EQ(srb.SRB_Status, SS_INVALID_HA);

  // A drive is named by its block device, as the pass-through transport names it, so
  // that the per-drive lock is the same on both; without one, by its sg device.
  fs::create_directories(root / "sys/devices/pci0/target/2:0:1:1/block/sr3");
  EXPECT_EQ(port.DeviceName(1, 1, 1), Dev() + "/sr3");
  EXPECT_EQ(port.DeviceName(0, 0, 0), Dev() + "/sg0");
  EXPECT_EQ(port.DeviceName(2, 0, 0), "");
}

TEST_F(FakeTree, AbortForgetsThePendingRequest) {
  fs::create_directories(root / "sys/class/scsi_host/host0");
  AddSg(0, "0:0:0:0", 5);
  Write(root / "dev/sg0", "");  // accepts the write like a device would
  TLinuxAspiPort port(Dev(), Sys());
  ASSERT_TRUE(port.Load());
  TSrbExecSCSICmd srb;
  srb.SRB_CDBLen = 12;
  srb.SRB_Flags = 0x40;
  srb.SRB_PostProc = port.CreateEvent();
  port.SendExec(srb);
  ASSERT_EQ(srb.SRB_Status, SS_PENDING);
  TSrbAbort abort;
  abort.SRB_ToAbort = &srb;
  port.SendAbort(abort);
  EXPECT_EQ(abort.SRB_Status, SS_COMP);
  EXPECT_EQ(port.WaitEvent(srb.SRB_PostProc, 0), TWaitResult::Failed);
  port.SendAbort(abort);  // nothing left to abort
  EXPECT_EQ(abort.SRB_Status, SS_ERR);
}

TEST_F(FakeTree, RequestsGoOutIndirectSoThatAnAbortCannotWriteLater) {
  fs::create_directories(root / "sys/class/scsi_host/host0");
  AddSg(0, "0:0:0:0", 5);
  Write(root / "dev/sg0", "");  // keeps what the port writes, as the driver would take it
  TLinuxAspiPort port(Dev(), Sys());
  ASSERT_TRUE(port.Load());
  uint8_t buffer[50] = {};
  TSrbExecSCSICmd srb;
  srb.SRB_Flags = kDirIn | SRB_EVENT_NOTIFY;
  srb.SRB_BufLen = sizeof buffer;
  srb.SRB_BufPointer = buffer;
  srb.SRB_SenseLen = kAspiSenseLength;
  srb.SRB_CDBLen = 12;
  srb.CDBByte[0] = 0x12;
  srb.SRB_PostProc = port.CreateEvent();
  port.SendExec(srb);
  ASSERT_EQ(srb.SRB_Status, SS_PENDING);

  std::ifstream in(root / "dev/sg0", std::ios::binary);
  sg_io_hdr h{};
  ASSERT_TRUE(in.read(reinterpret_cast<char*>(&h), sizeof h));
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, sizeof buffer);
  EXPECT_EQ(h.dxferp, buffer);
  EXPECT_EQ(h.cmd_len, 12);
  EXPECT_EQ(h.cmdp, srb.CDBByte);
  EXPECT_EQ(h.mx_sb_len, kAspiSenseLength);
  EXPECT_NE(h.sbp, nullptr);
  EXPECT_EQ(h.timeout, 30000u);
  // Direct I/O would let the driver fill the caller's buffer whenever the drive answers;
  // indirect I/O copies only at read(), which an aborted request never reaches.
  EXPECT_EQ(h.flags & SG_FLAG_DIRECT_IO, 0u);
  TSrbAbort abort;
  abort.SRB_ToAbort = &srb;
  port.SendAbort(abort);
}

TEST_F(FakeTree, RefusedDeviceOpenIsReportedAsAnAccessError) {
  fs::create_directories(root / "sys/class/scsi_host/host0");
  AddSg(0, "0:0:0:0", 5);
  Write(root / "dev/sg0", "");
  fs::permissions(root / "dev/sg0", fs::perms::none);
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  TLinuxAspiPort port(Dev(), Sys());
  ASSERT_TRUE(port.Load());
  auto refused = [&port] {
    TSrbExecSCSICmd srb;
    srb.SRB_CDBLen = 12;
    port.SendExec(srb);
    return srb.SRB_Status == SS_ERR && port.TakeAccessError() == EACCES &&
           port.TakeAccessError() == 0;
  };
  if (::geteuid() != 0) {
    EXPECT_TRUE(refused());
    return;
  }
  // Root bypasses file permissions: try it as an ordinary user in a child process.
  EXPECT_EXIT(
      {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(2);
        std::_Exit(refused() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tavo
