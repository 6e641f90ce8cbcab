#include "drive/linux/sg_common.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tavo {

namespace {

// driver_status bit that only says sense data is present.
constexpr unsigned kDriverSense = 0x08;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDriverTimeout = 0x06;

}  // namespace

// Opens a device without blocking on an empty tray. The standard descriptors 0 to 2 are
// never handed out: a handle of 0 always means "no drive" in the drive table, and a drive
// opened on a closed stdout or stderr would receive whatever the program prints there.
int OpenDevice(const std::string& path, int& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (fd <= STDERR_FILENO) {
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int saved = errno;
    ::close(fd);
    if (moved < 0) {
      error = saved;
      return -1;
    }
    fd = moved;
  }
  error = 0;
  return fd;
}

int SgDirectionForDataIn(uint8_t dataIn, uint32_t length) {
  if (length == 0) return SG_DXFER_NONE;
  if (dataIn == kDataIn) return SG_DXFER_FROM_DEV;
  if (dataIn == kDataOut) return SG_DXFER_TO_DEV;
  // Data of unspecified direction: let the kernel move it either way.
  return SG_DXFER_TO_FROM_DEV;
}

int SgDirectionForSrbFlags(uint8_t flags, uint32_t length) {
  const uint8_t dir = flags & (kDirIn | kDirOut);
  if (dir == kDirIn) return SgDirectionForDataIn(kDataIn, length);
  if (dir == kDirOut) return SgDirectionForDataIn(kDataOut, length);
  return SgDirectionForDataIn(kDataUnspecified, length);
}

sg_io_hdr BuildSgIoHeader(TPassThroughBlock& block) {
  TScsiPassThroughDirect& sptd = block.Sptd;
  sg_io_hdr header{};
  header.interface_id = 'S';
  header.dxfer_direction = SgDirectionForDataIn(sptd.DataIn, sptd.DataTransferLength);
  header.cmd_len = std::min<uint8_t>(sptd.CdbLength, sizeof sptd.Cdb);
  header.mx_sb_len = std::min<uint8_t>(sptd.SenseInfoLength, sizeof block.SenseBuf);
  header.iovec_count = 0;
  if (header.dxfer_direction != SG_DXFER_NONE) {
    header.dxfer_len = sptd.DataTransferLength;
    header.dxferp = sptd.DataBuffer;
  }
  header.cmdp = sptd.Cdb;
  header.sbp = block.SenseBuf;
  header.timeout = sptd.TimeOutValue * 1000;
  header.flags = SG_FLAG_DIRECT_IO;
  return header;
}

bool SgTransportClean(const sg_io_hdr& header) {
  return header.host_status == 0 && (header.driver_status & ~kDriverSense) == 0;
}

int MapSgIoOutcome(int ioctlResult, int ioctlErrno, const sg_io_hdr& header,
                   TPassThroughBlock& block) {
  if (ioctlResult < 0) return ioctlErrno != 0 ? ioctlErrno : EIO;
  block.Sptd.ScsiStatus = header.status;
  if (SgTransportClean(header)) return 0;
  if (header.host_status == kDidTimeOut || (header.driver_status & 0x0F) == kDriverTimeout) {
    return ETIMEDOUT;
  }
  return EIO;
}

}  // namespace tavo
