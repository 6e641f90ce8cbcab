// The power state from UPower on the system bus: whether the computer runs on battery and
// how full the battery is (the display device's Percentage).
#pragma once

#include <cstdint>
#include <optional>

namespace tavo {

struct TPowerState {
  bool onBattery = false;
  double percentage = 100.0;
};

// Nothing when there is no system bus or no UPower on it, or when they did not answer
// within timeoutUsec (all calls together).
std::optional<TPowerState> ReadPowerState(uint64_t timeoutUsec = 3'000'000);

}  // namespace tavo
