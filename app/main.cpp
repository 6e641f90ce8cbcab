// Entry of the window front end: the command line (help and version answered before the
// toolkit starts, so they need no display), the drives (and the program-wide TAtapi), the
// single-instance guard, then the main window and its event loop.
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
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
#include "app/raise_channel.h"
#include "drive/clock.h"
#include "image/firmware_image.h"
#include "platform/backup_files.h"
#include "platform/instance_lock.h"
#include "platform/restart.h"
#include "session/drive_backup.h"
#include "session/drive_report.h"
#include "session/drive_session.h"
#include "session/option_hints.h"
#include "session/options.h"
#include "session/output_files.h"
#include "session/run_record.h"
#include "session/version.h"

namespace {

using namespace tavo;

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: tavoflash [options]\n"
               "  --help        show this text\n"
               "  --version     show the program's version and the image it carries\n"
               "  --screenshot=FILE, --screenshot FILE\n"
               "                with TAVOFLASH_DEMO_AUTOSTART=1 and virtual drives: save a\n"
               "                picture of the window to FILE once the run has ended, then\n"
               "                quit with the run's exit code (0 verified, 1 failed)\n%s",
               StartupOptionsHelp().c_str());
}

int UsageError(const std::string& error) {
  std::fprintf(stderr, "tavoflash: %s\nTry 'tavoflash --help'.\n", error.c_str());
  return 2;
}

// Takes --screenshot FILE / --screenshot=FILE out of rest. False when the value is missing.
bool TakeScreenshotOption(std::vector<std::string>& rest, std::string& file) {
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i].rfind("--screenshot=", 0) == 0) {
      file = rest[i].substr(13);
      rest.erase(rest.begin() + static_cast<long>(i));
      return !file.empty();
    }
    if (rest[i] == "--screenshot") {
      if (i + 1 >= rest.size()) return false;
      file = rest[i + 1];
      rest.erase(rest.begin() + static_cast<long>(i), rest.begin() + static_cast<long>(i) + 2);
      return !file.empty();
    }
  }
  return true;
}

// True when the toolkit has somewhere to draw: an X or Wayland display, or a platform
// chosen by QT_QPA_PLATFORM or -platform that needs none (offscreen, vnc, ...).
bool HaveDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-platform" || arg == "--platform" || arg.rfind("-platform=", 0) == 0) return true;
  }
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  if (set("DISPLAY") || set("WAYLAND_DISPLAY")) return true;
  if (!set("QT_QPA_PLATFORM")) return false;
  const std::string platform = std::getenv("QT_QPA_PLATFORM");
  return platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0;
}

// Demo dialogs for a picture: the restart question too is answered (Cancel; virtual drives
// never restart the computer anyway), so the run can end without anyone at the window.
class TScreenshotDialogs final : public TDialogs {
 public:
  explicit TScreenshotDialogs(TDialogs& demo) : demo_(demo) {}
  bool AskOkCancel(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    if (caption == "Warning") return false;
    return demo_.AskOkCancel(caption, text, icon);
  }
  void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    demo_.Inform(caption, text, icon);
  }

 private:
  TDialogs& demo_;
};

// The options the window takes, for the hint after a mistyped one.
std::vector<std::string> WindowOptionNames() {
  std::vector<std::string> names = StartupOptionNames();
  names.push_back("--screenshot");
  return names;
}

// A double-dash argument that is neither ours nor one of the toolkit's own options (which
// it also takes with two dashes): known before the toolkit starts, so a mistyped option is
// a usage error with or without a display. Empty when there is none.
std::string FirstUnknownBeforeToolkit(const std::vector<std::string>& rest) {
  static const std::set<std::string> toolkit = {"platform",        "platformpluginpath",
                                                "platformtheme",   "plugin",
                                                "qwindowgeometry", "qwindowicon",
                                                "qwindowtitle",    "reverse",
                                                "session",         "display",
                                                "geometry",        "style",
                                                "stylesheet",      "widgetcount",
                                                "nograb",          "dograb",
                                                "qmljsdebugger",   "name",
                                                "title",           "visual"};
  for (const std::string& arg : rest) {
    if (arg.rfind("--", 0) != 0) continue;
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
    if (toolkit.count(name) == 0) return arg;
  }
  return {};
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

int Run(const TCommandLine& line, const std::vector<std::string>& rest,
        const std::string& screenshot, int argc, char** argv) {
  if (const std::string unknown = FirstUnknown(rest, argc, argv); !unknown.empty()) {
    return UsageError(UnknownOptionError(unknown, WindowOptionNames()));
  }
  if (const std::string bad = CheckOutputFiles(line.options); !bad.empty()) {
    return UsageError(bad);
  }
  // A second instance sends nothing to any drive (the first may be flashing one): it
  // brings the first to the front and ends before the drives are opened.
  TInstanceLock lock;
  if (!lock.Acquire(InstanceLockPath())) {
    TRaiseChannel::AskFirstToRaise();
    return 0;
  }
  TQtDialogs qtDialogs;
  TQtAtapiSink sink(qtDialogs);
  TRealClock clock;
  TDriveSession session(line.options, clock, sink,
                        {.program = "tavoflash",
                         .image = &EmbeddedImage(),
                         .mode = "run",
                         .backup = !line.options.noBackup});
  if (!session.Ok()) {
    std::fprintf(stderr, "tavoflash: %s\n", session.Error().c_str());
    return 2;
  }
  QApplication::setApplicationName(QStringLiteral("TAVOFlash"));

  // TAVOFLASH_DEMO_AUTOSTART=1, honoured only with virtual drives: confirms and starts the
  // run by itself, for unattended screenshots.
  const char* demo = std::getenv("TAVOFLASH_DEMO_AUTOSTART");
  const bool autostart = session.Emulated() && demo != nullptr && std::string(demo) == "1";
  TDemoDialogs demoDialogs(qtDialogs);
  TScreenshotDialogs screenshotDialogs(demoDialogs);
  TDialogs& dialogs = !autostart           ? static_cast<TDialogs&>(qtDialogs)
                      : screenshot.empty() ? static_cast<TDialogs&>(demoDialogs)
                                           : static_cast<TDialogs&>(screenshotDialogs);
  TRunRecord record("tavoflash", line.options, line.options.logPath);
  record.SetFlight(&session.Flight());

  TForm1* form = nullptr;
  TSystemRestarter restarter(session.Emulated(), {.log =
                                                      [&form](const std::string& text) {
                                                        if (form != nullptr) form->AddLog(text);
                                                      },
                                                  .failure = nullptr});
  TRaiseChannel channel;
  channel.Listen();
  // Declared before the window: a run the window waits for at its end may still use it.
  TBackupKeeper keeper(BackupDirectory(), BackupSkipReason(line.options, session));
  TForm1 window(session.Atapi(), EmbeddedImage(), clock, dialogs, restarter);
  channel.SetWindow(&window);
  form = &window;
  window.SetRunRecord(&record);
  window.SetBackupStore(&keeper);
  if (window.NoDriveFound()) {
    std::string why;
    for (const std::string& reason : NoDriveReasons(session.Atapi(), window.State().edit1)) {
      why += reason + "\n";
    }
    record.EndWithoutRun(EmbeddedImage(), "No matching drive", why);
  }
  if (autostart && !screenshot.empty()) {
    window.SetRunEndedHandler([&window, screenshot](bool verified) {
      // Saved once the window has painted the outcome.
      QTimer::singleShot(300, &window, [&window, screenshot, verified] {
        if (!window.grab().save(QString::fromLocal8Bit(screenshot.c_str()))) {
          std::fprintf(stderr, "tavoflash: cannot save the picture to %s\n", screenshot.c_str());
        }
        QApplication::exit(verified ? 0 : 1);
      });
    });
  }
  window.show();
  if (autostart) {
    QTimer::singleShot(500, &window, [&window] {
      if (auto* start = window.findChild<QPushButton*>(QStringLiteral("BitBtn2"));
          start != nullptr && start->isEnabled()) {
        start->click();
      }
    });
  }
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  const TCommandLine line = ParseCommandLine({argv + 1, argv + argc});
  if (!line.Ok()) {
    return UsageError(line.error);
  }
  std::vector<std::string> rest = line.rest;
  std::string screenshot;
  if (!TakeScreenshotOption(rest, screenshot)) {
    return UsageError("option '--screenshot' needs a file name");
  }
  if (line.help) {
    PrintUsage(stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(VersionText("tavoflash", EmbeddedImage()).c_str(), stdout);
    return 0;
  }
  if (const std::string unknown = FirstUnknownBeforeToolkit(rest); !unknown.empty()) {
    return UsageError(UnknownOptionError(unknown, WindowOptionNames()));
  }
  if (!HaveDisplay(argc, argv)) {
    std::fprintf(stderr,
                 "tavoflash: no display to open the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set).\nUse tavoflash-cli, the same procedure in a "
                 "terminal, or set QT_QPA_PLATFORM=offscreen.\n");
    return 1;
  }
  QApplication app(argc, argv);
  try {
    return Run(line, rest, screenshot, argc, argv);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("TAVOFlash"), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("TAVOFlash"),
                          QStringLiteral("An unexpected error ended the program."));
  }
  return 0;
}
