// Time seam. Every wait and every time-out of the program goes through a TClock, so that
// tests (and the virtual drive) run on virtual time while the program runs on real time.
#pragma once

#include <cstdint>

namespace tavo {

class TClock {
 public:
  virtual ~TClock() = default;
  // Monotonic time in milliseconds since an arbitrary start.
  virtual uint64_t NowMs() = 0;
  // Monotonic time in whole seconds.
  uint64_t Now() { return NowMs() / 1000; }
  // Blocks the caller for ms milliseconds (virtual clocks advance at once instead).
  virtual void Sleep(uint32_t ms) = 0;
};

// Steady clock of the machine; Sleep really sleeps.
class TRealClock final : public TClock {
 public:
  uint64_t NowMs() override;
  void Sleep(uint32_t ms) override;
};

// Virtual time: Sleep advances the clock at once. Starts at a non-zero time so that code
// that compares against a start time sees ordinary values.
class TVirtualClock final : public TClock {
 public:
  explicit TVirtualClock(uint64_t startMs = 1'000'000) : nowMs_(startMs) {}
  uint64_t NowMs() override { return nowMs_; }
  void Sleep(uint32_t ms) override { nowMs_ += ms; }
  void Advance(uint64_t ms) { nowMs_ += ms; }
  // Total virtual time spent in Sleep and Advance since construction.
  uint64_t ElapsedMs() const { return nowMs_ - startMs_; }

 private:
  uint64_t nowMs_;
  uint64_t startMs_ = nowMs_;
};

}  // namespace tavo
