#include "platform/power.h"

#include "platform/system_bus.h"

namespace tavo {

namespace {

// One property of UPower, through the bus's deadline. False when it could not be read.
template <typename T>
bool ReadProperty(TSystemBus& bus, const char* object, const char* interface, const char* name,
                  char type, T* value) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = bus.CallMethod("org.freedesktop.UPower", object, "org.freedesktop.DBus.Properties", "Get",
                         &error, &reply, "ss", interface, name);
  const char contents[2] = {type, 0};
  if (r >= 0) r = sd_bus_message_enter_container(reply, 'v', contents);
  if (r >= 0) r = sd_bus_message_read_basic(reply, type, value);
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return r >= 0;
}

}  // namespace

std::optional<TPowerState> ReadPowerState(uint64_t timeoutUsec) {
  TSystemBus bus(timeoutUsec);
  if (bus.OpenError() < 0) return std::nullopt;
  int onBattery = 0;
  if (!ReadProperty(bus, "/org/freedesktop/UPower", "org.freedesktop.UPower", "OnBattery", 'b',
                    &onBattery)) {
    return std::nullopt;
  }
  TPowerState state{.onBattery = onBattery != 0};
  double percentage = 0;
  if (ReadProperty(bus, "/org/freedesktop/UPower/devices/DisplayDevice",
                   "org.freedesktop.UPower.Device", "Percentage", 'd', &percentage)) {
    state.percentage = percentage;
  }
  return state;
}

}  // namespace tavo
