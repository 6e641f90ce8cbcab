#include "platform/system_bus.h"

#include <time.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace tavo {

namespace {

uint64_t NowUsec() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

struct TPendingReply {
  bool done = false;
  sd_bus_message* reply = nullptr;
};

int OnReply(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
  auto* pending = static_cast<TPendingReply*>(userdata);
  pending->done = true;
  pending->reply = sd_bus_message_ref(message);
  return 0;
}

}  // namespace

TSystemBus::TSystemBus(uint64_t timeoutUsec) : deadline_(NowUsec() + timeoutUsec) {
  // The connection is started here; the handshake runs in Call's loop, under the deadline.
  openError_ = sd_bus_open_system(&bus_);
  if (openError_ < 0) bus_ = nullptr;
}

TSystemBus::~TSystemBus() {
  // Not flushed: every call has had its answer, and a silent bus would hold a flush.
  if (bus_ != nullptr) sd_bus_close_unref(bus_);
}

int TSystemBus::Call(sd_bus_message* call, sd_bus_error* error, sd_bus_message** reply) {
  *reply = nullptr;
  if (bus_ == nullptr) return openError_ < 0 ? openError_ : -ENOTCONN;
  uint64_t now = NowUsec();
  if (now >= deadline_) return -ETIMEDOUT;
  TPendingReply pending;
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_call_async(bus_, &slot, call, &OnReply, &pending, deadline_ - now);
  while (r >= 0 && !pending.done) {
    now = NowUsec();
    if (now >= deadline_) {
      r = -ETIMEDOUT;
      break;
    }
    r = sd_bus_process(bus_, nullptr);
    if (r > 0) continue;
    if (r < 0) break;
    r = sd_bus_wait(bus_, deadline_ - now);
    if (r == -EINTR) r = 0;
  }
  // The callback must not outlive this frame.
  sd_bus_slot_unref(slot);
  if (!pending.done) return r < 0 ? r : -ETIMEDOUT;
  if (sd_bus_message_is_method_error(pending.reply, nullptr)) {
    const sd_bus_error* failure = sd_bus_message_get_error(pending.reply);
    const int code = sd_bus_error_get_errno(failure);
    sd_bus_error_copy(error, failure);
    sd_bus_message_unref(pending.reply);
    return code > 0 ? -code : -EIO;
  }
  *reply = pending.reply;
  return 0;
}

int TSystemBus::Send(sd_bus_message* call) {
  if (bus_ == nullptr) return openError_ < 0 ? openError_ : -ENOTCONN;
  int r = sd_bus_send(bus_, call, nullptr);
  for (uint64_t queued = 1; r >= 0;) {
    r = sd_bus_get_n_queued_write(bus_, &queued);
    if (r < 0 || queued == 0) break;
    const uint64_t now = NowUsec();
    if (now >= deadline_) return -ETIMEDOUT;
    r = sd_bus_process(bus_, nullptr);
    if (r > 0) continue;
    if (r >= 0) r = sd_bus_wait(bus_, deadline_ - now);
    if (r == -EINTR) r = 0;
  }
  return r < 0 ? r : 0;
}

int TSystemBus::CallMethod(const char* service, const char* object, const char* interface,
                           const char* method, sd_bus_error* error, sd_bus_message** reply,
                           const char* types, ...) {
  *reply = nullptr;
  if (bus_ == nullptr) return openError_ < 0 ? openError_ : -ENOTCONN;
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &call, service, object, interface, method);
  if (r >= 0 && types != nullptr) {
    va_list args;
    va_start(args, types);
    r = sd_bus_message_appendv(call, types, args);
    va_end(args);
  }
  if (r >= 0) r = Call(call, error, reply);
  sd_bus_message_unref(call);
  return r;
}

std::string BusFailureText(const char* service, int negativeErrno, const sd_bus_error& error) {
  if (negativeErrno == -ETIMEDOUT) return std::string(service) + " did not answer in time";
  if (error.name != nullptr) return std::string(service) + " did not answer (" + error.name + ")";
  return std::string(service) + " could not be reached (" + std::strerror(-negativeErrno) + ")";
}

}  // namespace tavo
