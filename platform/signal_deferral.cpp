#include "platform/signal_deferral.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace tavo {

namespace {

constexpr int kTerminating[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// With the stop signals of a terminal (Ctrl-Z, a background job reading or writing it): a
// run stopped for longer than the drive's time-outs would fail, so they are dropped
// meanwhile (with the same notice).
constexpr int kDeferred[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU};

bool IsTerminating(int signal) {
  for (int s : kTerminating) {
    if (s == signal) return true;
  }
  return false;
}

// Handler state: one deferral at a time, reached from the handler only through lock-free
// atomics and plain descriptors.
std::atomic<int> gFirst{0};
std::atomic<bool> gNoticeGiven{false};
std::atomic<int> gPipeWrite{-1};
std::atomic<int> gPipeRead{-1};
std::atomic<int> gNoticeFd{-1};
const char* gNotice = nullptr;
size_t gNoticeLength = 0;
struct sigaction gPrevious[std::size(kDeferred)];
struct sigaction gPreviousPipe;

void OnSignal(int signal) {
  const int savedErrno = errno;
  if (IsTerminating(signal)) {
    int expected = 0;
    gFirst.compare_exchange_strong(expected, signal);
  }
  const bool first = !gNoticeGiven.exchange(true);
  const int wfd = gPipeWrite.load();
  if (wfd >= 0) {
    const char byte = static_cast<char>(signal);
    (void)!write(wfd, &byte, 1);
  }
  const int nfd = gNoticeFd.load();
  if (first && nfd >= 0 && gNotice != nullptr) {
    (void)!write(nfd, gNotice, gNoticeLength);
  }
  errno = savedErrno;
}

}  // namespace

TSignalDeferral::TSignalDeferral(int noticeFd, std::string notice) : notice_(std::move(notice)) {
  if (gPipeWrite.load() >= 0) return;  // one deferral at a time
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  gFirst = 0;
  gNoticeGiven = false;
  gNotice = notice_.c_str();
  gNoticeLength = notice_.size();
  gNoticeFd = noticeFd;
  gPipeRead = fds[0];
  gPipeWrite = fds[1];
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : kDeferred) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kDeferred); ++i) {
    sigaction(kDeferred[i], nullptr, &gPrevious[i]);
    // A signal ignored from the start (nohup, a background job) stays ignored: deferring it
    // would end the program after the run where it was meant to go on.
    if (gPrevious[i].sa_handler != SIG_IGN) sigaction(kDeferred[i], &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &gPreviousPipe);
  // The signals may have been blocked by whoever started the run; they must arrive.
  sigset_t set;
  sigemptyset(&set);
  for (int s : kDeferred) sigaddset(&set, s);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  active_ = true;
}

TSignalDeferral::~TSignalDeferral() {
  if (!active_) return;
  for (size_t i = 0; i < std::size(kDeferred); ++i) {
    sigaction(kDeferred[i], &gPrevious[i], nullptr);
  }
  sigaction(SIGPIPE, &gPreviousPipe, nullptr);
  const int r = gPipeRead.exchange(-1);
  const int w = gPipeWrite.exchange(-1);
  gNoticeFd = -1;
  close(r);
  close(w);
  gNotice = nullptr;
}

int TSignalDeferral::Fd() const {
  return active_ ? gPipeRead.load() : -1;
}

int TSignalDeferral::TakeArrivals() {
  if (!active_) return 0;
  int n = 0;
  char buffer[64];
  for (;;) {
    const ssize_t got = read(gPipeRead.load(), buffer, sizeof buffer);
    if (got <= 0) break;
    n += static_cast<int>(got);
  }
  return n;
}

int TSignalDeferral::Caught() const {
  return active_ ? gFirst.load() : 0;
}

void EndBySignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);  // not reached for a terminating signal
}

}  // namespace tavo
