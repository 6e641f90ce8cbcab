#include "platform/power.h"

#include <systemd/sd-bus.h>

namespace tavo {

std::optional<TPowerState> ReadPowerState() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return std::nullopt;
  std::optional<TPowerState> state;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int onBattery = 0;
  if (sd_bus_get_property_trivial(bus, "org.freedesktop.UPower", "/org/freedesktop/UPower",
                                  "org.freedesktop.UPower", "OnBattery", &error, 'b',
                                  &onBattery) >= 0) {
    state = TPowerState{.onBattery = onBattery != 0};
    sd_bus_error_free(&error);
    double percentage = 0;
    if (sd_bus_get_property_trivial(
            bus, "org.freedesktop.UPower", "/org/freedesktop/UPower/devices/DisplayDevice",
            "org.freedesktop.UPower.Device", "Percentage", &error, 'd', &percentage) >= 0) {
      state->percentage = percentage;
    }
  }
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return state;
}

}  // namespace tavo
