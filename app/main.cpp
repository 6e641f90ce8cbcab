// Entry of the window front end: the drives (and the program-wide TAtapi) first, then the
// single-instance guard, then the main window and its event loop.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/atapi_sink.h"
#include "app/dialogs.h"
#include "app/form1.h"
#include "app/instance_lock.h"
#include "app/restarter.h"
#include "cli/startup.h"
#include "drive/clock.h"
#include "image/firmware_image.h"

namespace {

using namespace tavo;

// Demo aid for unattended screenshots (TAVOFLASH_DEMO_AUTOSTART=1, honoured only with
// virtual drives): answers the start-up confirmation with OK. Every other box is asked for
// real.
class TDemoDialogs final : public TDialogs {
 public:
  explicit TDemoDialogs(TDialogs& real) : real_(real) {}
  bool AskOkCancel(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    if (caption == "WARNING") {
      return true;
    }
    return real_.AskOkCancel(caption, text, icon);
  }
  void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    real_.Inform(caption, text, icon);
  }

 private:
  TDialogs& real_;
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "Usage: tavoflash [options]\n%s", StartupOptionsHelp().c_str());
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

int Run(QApplication& app, int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TStartupOptions options;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseStartupArgs(args, options, rest, error)) {
    std::fprintf(stderr, "tavoflash: %s\n", error.c_str());
    return 2;
  }
  // The toolkit has taken its own options out of argv by now: anything left is unknown.
  for (const std::string& arg : rest) {
    if (IsHelp(arg)) {
      PrintUsage(stdout);
      return 0;
    }
    std::fprintf(stderr, "tavoflash: unknown option %s\n", arg.c_str());
    PrintUsage(stderr);
    return 2;
  }
  ApplyTransportEnvironment(options);

  TQtDialogs qtDialogs;
  TQtAtapiSink sink(qtDialogs);
  TRealClock clock;
  // The drives are opened and probed before anything else, also in a second instance.
  TDriveSession session(options, clock, sink);
  if (!session.Ok()) {
    std::fprintf(stderr, "tavoflash: %s\n", session.Error().c_str());
    return 2;
  }

  TInstanceLock lock;
  if (!lock.Acquire(InstanceLockPath())) {
    return 0;  // another instance runs: end silently
  }
  QApplication::setApplicationName(QStringLiteral("TAVOFlash"));

  const char* demo = std::getenv("TAVOFLASH_DEMO_AUTOSTART");
  const bool autostart = session.Emulated() && demo != nullptr && std::string(demo) == "1";
  TDemoDialogs demoDialogs(qtDialogs);
  TDialogs& dialogs = autostart ? static_cast<TDialogs&>(demoDialogs) : qtDialogs;

  TForm1* form = nullptr;
  TLogindRestarter logind;
  TEmulatedRestarter emulated([&form](const std::string& line) {
    if (form != nullptr) {
      form->AddLog(line);
    }
  });
  TRestarter& restarter =
      session.Emulated() ? static_cast<TRestarter&>(emulated) : static_cast<TRestarter&>(logind);

  TForm1 window(session.Atapi(), EmbeddedImage(), clock, dialogs, restarter);
  form = &window;
  window.show();
  if (autostart) {
    QTimer::singleShot(500, &window, [&window] {
      if (auto* start = window.findChild<QPushButton*>(QStringLiteral("BitBtn2"));
          start != nullptr && start->isEnabled()) {
        start->click();
      }
    });
  }
  app.exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  {
    // Help and a malformed start-up option are answered before the toolkit starts, so
    // that they work without a display (the toolkit aborts when it finds none).
    const std::vector<std::string> args(argv + 1, argv + argc);
    TStartupOptions options;
    std::vector<std::string> rest;
    std::string error;
    if (!ParseStartupArgs(args, options, rest, error)) {
      std::fprintf(stderr, "tavoflash: %s\n", error.c_str());
      PrintUsage(stderr);
      return 2;
    }
    for (const std::string& arg : rest) {
      if (IsHelp(arg)) {
        PrintUsage(stdout);
        return 0;
      }
    }
  }
  QApplication app(argc, argv);
  try {
    return Run(app, argc, argv);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("TAVOFlash"), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("TAVOFlash"),
                          QStringLiteral("An unexpected error ended the program."));
  }
  return 0;
}
