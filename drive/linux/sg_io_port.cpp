#include "drive/linux/sg_io_port.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "drive/linux/sg_common.h"
#include "drive/linux/sysfs.h"
#include "drive/scsi.h"

namespace tavo {

// Pass-through port.

TLinuxPassThroughPort::TLinuxPassThroughPort(std::string devRoot, std::string sysRoot)
    : devRoot_(std::move(devRoot)), sysRoot_(std::move(sysRoot)) {}

int TLinuxPassThroughPort::SlotCount() {
  return scsi::kDriveSlots;  // sr0 .. sr24
}

std::string TLinuxPassThroughPort::SlotName(int slot) {
  return devRoot_ + "/sr" + std::to_string(slot);
}

bool TLinuxPassThroughPort::IsOpticalSlot(int slot) {
  if (slot < 0 || slot >= scsi::kDriveSlots) return false;
  struct stat st {};
  if (::stat(SlotName(slot).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  const auto type =
      ReadSysfsInt(sysRoot_ + "/class/block/sr" + std::to_string(slot) + "/device/type");
  return type && *type == scsi::kDeviceTypeOptical;
}

TDeviceHandle TLinuxPassThroughPort::Open(int slot, int& error) {
  if (slot < 0 || slot >= scsi::kDriveSlots) {
    error = ENODEV;
    return kInvalidHandle;
  }
  const int fd = OpenDevice(SlotName(slot), error);
  return fd < 0 ? kInvalidHandle : fd;
}

int TLinuxPassThroughPort::Execute(TDeviceHandle handle, TPassThroughBlock& block) {
  if (handle <= 0) return EBADF;
  sg_io_hdr header = BuildSgIoHeader(block);
  const int result = ::ioctl(handle, SG_IO, &header);
  return MapSgIoOutcome(result, result < 0 ? errno : 0, header, block);
}

void TLinuxPassThroughPort::Close(TDeviceHandle handle) {
  if (handle > 0) ::close(handle);
}

}  // namespace tavo
