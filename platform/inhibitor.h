// A logind "block" inhibitor held for the length of a flash run: no shutdown, sleep or
// idle action, and the power, suspend, hibernate keys and the lid switch do nothing, until
// the descriptor logind hands back is closed (Release, or the destructor).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavo {

class TInhibitor {
 public:
  static constexpr const char* kWhat =
      "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
      "handle-lid-switch";
  static constexpr const char* kWho = "TAVOFlash";

  TInhibitor() = default;
  ~TInhibitor();
  TInhibitor(const TInhibitor&) = delete;
  TInhibitor& operator=(const TInhibitor&) = delete;

  // Asks logind on the system bus for the lock, waiting at most timeoutUsec for the bus and
  // the answer; why is shown to the user by the desktop. Empty on success, else why there
  // is no lock.
  std::string Take(const std::string& why, uint64_t timeoutUsec = 3'000'000);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A block inhibitor for shutdown that another program holds, as logind lists it (who and why
// made printable).
struct TShutdownBlocker {
  std::string who;
  std::string why;
  uint32_t pid = 0;
};

// logind's ListInhibitors on the system bus, waiting at most timeoutUsec: the "block"
// inhibitors whose "what" includes shutdown, held by other processes (this program's own are
// left out). Empty when there are none or logind could not be asked (a restart request then
// meets logind's own rules).
std::vector<TShutdownBlocker> OtherShutdownBlockers(uint64_t timeoutUsec = 3'000'000);

}  // namespace tavo
