// The system bus with a deadline: connecting, authenticating and each call share one time
// limit, so a bus that is missing or does not answer costs at most that long (sd-bus on
// its own waits 25 s per call, and without limit for a bus that never finishes the
// handshake).
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

namespace tavo {

// How long a run waits for a system service before it goes on without it.
inline constexpr uint64_t kRunBusTimeoutUsec = 3'000'000;

class TSystemBus {
 public:
  // Starts connecting to the system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the standard
  // socket); the deadline starts now.
  explicit TSystemBus(uint64_t timeoutUsec);
  ~TSystemBus();
  TSystemBus(const TSystemBus&) = delete;
  TSystemBus& operator=(const TSystemBus&) = delete;

  // Negative errno when no connection could be started.
  int OpenError() const { return openError_; }
  sd_bus* Bus() const { return bus_; }

  // Sends call and waits for its reply until the deadline. >= 0: *reply holds the answer
  // (the caller unrefs it). < 0: a negative errno (-ETIMEDOUT when the deadline passed),
  // with error filled when the service answered with an error.
  int Call(sd_bus_message* call, sd_bus_error* error, sd_bus_message** reply);
  // Sends call without waiting for a reply, and waits until it has left (at most until the
  // deadline). The connection must then stay open as long as the service may look at the
  // caller. 0 once written, else a negative errno.
  int Send(sd_bus_message* call);
  // A method call with no arguments or with the arguments of types/... (as
  // sd_bus_message_append), then Call.
  int CallMethod(const char* service, const char* object, const char* interface, const char* method,
                 sd_bus_error* error, sd_bus_message** reply, const char* types = nullptr, ...);

 private:
  sd_bus* bus_ = nullptr;
  int openError_ = 0;
  uint64_t deadline_ = 0;
};

// "no system bus (reason)" / "logind did not answer (name)": why a call failed, in a few
// words for a log line. service: what did not answer.
std::string BusFailureText(const char* service, int negativeErrno, const sd_bus_error& error);

}  // namespace tavo
