// Deferral of the terminating signals for the length of a flash run. While a TSignalDeferral
// exists, SIGINT, SIGTERM, SIGHUP and SIGQUIT do not end the program: the handler records
// the first one, writes a byte to a pipe (so an event loop can watch Fd()), and, when a
// notice was given, writes it once to the notice descriptor. The terminal's stop signals
// (SIGTSTP, SIGTTIN, SIGTTOU) do not stop it either: they are noticed the same way and
// dropped (a run stopped past the drive's time-outs would fail). SIGPIPE is ignored meanwhile
// (a closed terminal or pipe must not end the run either). A signal that was ignored when
// the deferral began (nohup, a background job of a shell) stays ignored. The destructor puts the
// previous dispositions back; the caller then ends the program with EndBySignal when a
// signal arrived.
//
// Typical use:
//   int caught = 0;
//   {
//     TSignalDeferral deferral(STDERR_FILENO, "flashing in progress ...\n");
//     RunTheFlash();
//     caught = deferral.Caught();
//   }
//   if (caught != 0) EndBySignal(caught);
#pragma once

#include <string>

namespace tavo {

class TSignalDeferral {
 public:
  // noticeFd: where the handler writes notice on the first signal (-1: nowhere).
  explicit TSignalDeferral(int noticeFd = -1, std::string notice = {});
  ~TSignalDeferral();
  TSignalDeferral(const TSignalDeferral&) = delete;
  TSignalDeferral& operator=(const TSignalDeferral&) = delete;

  // False when the handlers could not be installed (the signals then act as usual).
  bool Active() const { return active_; }
  // Readable once a deferred signal arrived; drain it with TakeArrivals.
  int Fd() const;
  // Number of signals read from the pipe since the last call.
  int TakeArrivals();
  // The first deferred signal, 0 when none arrived.
  int Caught() const;

 private:
  bool active_ = false;
  std::string notice_;
};

// Ends the program the way the signal would have: default disposition, unblocked, raised.
[[noreturn]] void EndBySignal(int signal);

}  // namespace tavo
