// How well the window answers during a flash run: a whole default run on the real clock
// against a virtual drive (offscreen), while a 5 ms timer ticks on the GUI thread. Reports
// the longest gap between two ticks; the goal is no gap over 50 ms (a window that stops
// answering for about 5 s is offered to the user for "Force Quit").
//
// Usage: bench_responsiveness   (takes about ten seconds; not part of the test run)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/dialogs.h"
#include "app/form1.h"
#include "drive/atapi.h"
#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"
#include "image/firmware_image.h"
#include "platform/restart.h"

namespace {

using namespace tavo;

// OK to the start-up confirmation, Cancel to the restart question, nothing shown.
class TAnsweringDialogs final : public TDialogs {
 public:
  bool AskOkCancel(const std::string& caption, const std::string&, TDialogIcon) override {
    return caption != "Warning";
  }
  void Inform(const std::string&, const std::string&, TDialogIcon) override {}
};

class TSilentSink final : public TAtapiSink {
 public:
  void ShowPlainMessage(const std::string& text) override {
    std::fprintf(stderr, "drive message: %s\n", text.c_str());
  }
  void PumpMessage() override {}
};

class TNoRestart final : public TRestarter {
 public:
  void RequestReboot() override {}
};

}  // namespace

int main(int argc, char** argv) {
  // Hermetic: no display, no system bus, drive locks in a directory of its own.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tavo-bench-bus", 1);
  QApplication app(argc, argv);
  QTemporaryDir locks;
  setenv("TAVOFLASH_LOCK_DIR", locks.path().toLocal8Bit().constData(), 1);

  TRealClock clock;
  TVirtualBus bus(clock);
  bus.AddDrive(*FindProfile("default"));
  TSilentSink sink;
  TAtapiConfig config;
  config.passThrough = true;
  config.passThroughPort = &bus;
  config.aspiPort = &bus;
  config.sink = &sink;
  config.clock = &clock;
  TAtapi atapi(config);
  TAnsweringDialogs dialogs;
  TNoRestart restarter;
  TForm1 form(atapi, EmbeddedImage(), clock, dialogs, restarter);
  form.show();

  QElapsedTimer sinceTick;
  qint64 longestGapMs = 0;
  qint64 longestGapAtMs = 0;  // when it ended, from the start of the run
  long ticks = 0;
  long gapsOver50 = 0;
  QElapsedTimer run;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 gap = sinceTick.restart();
    if (gap > longestGapMs) {
      longestGapMs = gap;
      longestGapAtMs = run.elapsed();
    }
    gapsOver50 += gap > 50 ? 1 : 0;
    ++ticks;
  });

  QEventLoop loop;
  QObject::connect(&form, &TForm1::RunFinished, &loop, &QEventLoop::quit);
  // Started once the window has shown and painted itself, as a user's click would be.
  QTimer::singleShot(500, &form, [&] {
    run.start();
    sinceTick.start();
    ticker.start();
    form.BitBtn2Click();
  });
  loop.exec();
  ticker.stop();

  const bool verified = form.Engine().LastRunVerified();
  std::printf("run: %lld ms, %s\n", static_cast<long long>(run.elapsed()),
              verified ? "Firmware Verify ok!!" : "NOT verified");
  std::printf(
      "5 ms timer on the GUI thread: %ld ticks, longest gap %lld ms (at %lld ms into the run), "
      "%ld gaps over 50 ms (goal: none)\n",
      ticks, static_cast<long long>(longestGapMs), static_cast<long long>(longestGapAtMs),
      gapsOver50);
  return verified ? 0 : 1;
}
