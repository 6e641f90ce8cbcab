// TLinuxPassThroughPort: SG_IO on /dev/sr0 .. /dev/sr24, the caller's buffer handed over
// directly, 20 s time-out, 24-byte sense into the block. The /dev and /sys roots are
// parameters so that tests can point them at a fake tree.
#pragma once

#include <string>

#include "drive/ports.h"

namespace tavo {

class TLinuxPassThroughPort final : public TPassThroughPort {
 public:
  explicit TLinuxPassThroughPort(std::string devRoot = "/dev", std::string sysRoot = "/sys");
  int SlotCount() override;
  bool IsOpticalSlot(int slot) override;
  std::string SlotName(int slot) override;
  TDeviceHandle Open(int slot, int& error) override;
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override;
  void Close(TDeviceHandle handle) override;

 private:
  std::string devRoot_;
  std::string sysRoot_;
};

}  // namespace tavo
