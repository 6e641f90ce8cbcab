// Entry of the window front end: the command line (help and version answered before the
// toolkit starts, so they need no display), the drives (and the program-wide TAtapi), the
// single-instance guard, then the main window and its event loop.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "app/atapi_sink.h"
#include "app/dialogs.h"
#include "app/form1.h"
#include "drive/clock.h"
#include "image/firmware_image.h"
#include "platform/instance_lock.h"
#include "platform/restart.h"
#include "session/drive_session.h"
#include "session/options.h"
#include "session/version.h"

namespace {

using namespace tavo;

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: tavoflash [options]\n"
               "  --version     show the program's version and the image it carries\n%s",
               StartupOptionsHelp().c_str());
}

// The first argument the toolkit left in argv that is not a start-up option; empty when
// there is none. rest: the arguments that were not start-up options before the toolkit
// took its own out.
std::string FirstUnknown(const std::vector<std::string>& rest, int argc, char** argv) {
  std::multiset<std::string> left(argv + 1, argv + argc);
  for (const std::string& arg : rest) {
    if (left.count(arg) != 0) return arg;
  }
  return {};
}

int Run(const TCommandLine& line, int argc, char** argv) {
  if (const std::string unknown = FirstUnknown(line.rest, argc, argv); !unknown.empty()) {
    std::fprintf(stderr, "tavoflash: unknown option %s\n", unknown.c_str());
    PrintUsage(stderr);
    return 2;
  }
  TQtDialogs qtDialogs;
  TQtAtapiSink sink(qtDialogs);
  TRealClock clock;
  // The drives are opened and probed before anything else, also in a second instance.
  TDriveSession session(line.options, clock, sink, {"tavoflash", &EmbeddedImage()});
  if (!session.Ok()) {
    std::fprintf(stderr, "tavoflash: %s\n", session.Error().c_str());
    return 2;
  }
  TInstanceLock lock;
  if (!lock.Acquire(InstanceLockPath())) {
    return 0;  // another instance runs: end silently
  }
  QApplication::setApplicationName(QStringLiteral("TAVOFlash"));

  // TAVOFLASH_DEMO_AUTOSTART=1, honoured only with virtual drives: confirms and starts the
  // run by itself, for unattended screenshots.
  const char* demo = std::getenv("TAVOFLASH_DEMO_AUTOSTART");
  const bool autostart = session.Emulated() && demo != nullptr && std::string(demo) == "1";
  TDemoDialogs demoDialogs(qtDialogs);
  TDialogs& dialogs = autostart ? static_cast<TDialogs&>(demoDialogs) : qtDialogs;

  TForm1* form = nullptr;
  TSystemRestarter restarter(session.Emulated(), {.log =
                                                      [&form](const std::string& text) {
                                                        if (form != nullptr) form->AddLog(text);
                                                      },
                                                  .failure = nullptr});
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
  QApplication::exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const TCommandLine line = ParseCommandLine({argv + 1, argv + argc});
  if (!line.Ok()) {
    std::fprintf(stderr, "tavoflash: %s\n", line.error.c_str());
    PrintUsage(stderr);
    return 2;
  }
  if (line.help) {
    PrintUsage(stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(VersionText("tavoflash", EmbeddedImage()).c_str(), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  try {
    return Run(line, argc, argv);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("TAVOFlash"), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("TAVOFlash"),
                          QStringLiteral("An unexpected error ended the program."));
  }
  return 0;
}
