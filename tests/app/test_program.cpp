// The built program's command line: help, version and bad usage are answered on the
// terminal, also where no display exists, and bad usage ends with a non-zero code; a second
// instance ends silently.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include "app/raise_channel.h"
#include "image/firmware_image.h"
#include "platform/drive_lock.h"
#include "platform/instance_lock.h"
#include "session/version.h"

namespace {

struct TRun {
  int exitCode = -1;
  QProcess::ExitStatus status = QProcess::CrashExit;
  QByteArray out;
  QByteArray err;
};

// Runs the program with the given arguments; headless: no display at all, so a window
// (or the toolkit's start) would fail.
TRun RunProgram(const QStringList& args, const QString& platform = QString(),
                const QStringList& extraEnv = {}) {
  QTemporaryDir runtime;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_STATE_HOME", runtime.path());
  for (const QString& pair : extraEnv) {
    env.insert(pair.section('=', 0, 0), pair.section('=', 1));
  }
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  if (platform.isEmpty()) {
    env.insert("QT_QPA_PLATFORM", "xcb");
  } else {
    env.insert("QT_QPA_PLATFORM", platform);
  }
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(TAVOFLASH_BINARY, args);
  TRun run;
  if (!p.waitForFinished(30000)) {
    p.kill();
    p.waitForFinished();
    return run;
  }
  run.exitCode = p.exitCode();
  run.status = p.exitStatus();
  run.out = p.readAllStandardOutput();
  run.err = p.readAllStandardError();
  return run;
}

}  // namespace

class TProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void helpNeedsNoDisplay() {
    const TRun run = RunProgram({"--help"});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith("Usage: tavoflash"), run.out.constData());
    QVERIFY(run.out.contains("--emulate"));
  }

  void versionNeedsNoDisplay() {
    const TRun run = RunProgram({"--version"});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.toStdString(), tavo::VersionText("tavoflash", tavo::EmbeddedImage()));
    // Neither needs a transport: a bad one named in the environment does not stop them.
    for (const char* option : {"--version", "--help"}) {
      const TRun bad = RunProgram({option}, QString(), {"TAVOFLASH_TRANSPORT=bogus"});
      QCOMPARE(bad.exitCode, 0);
    }
  }

  void secondProgramStartExitsSilently() {
    QTemporaryDir dir;
    tavo::TInstanceLock held;
    QVERIFY(held.Acquire(dir.filePath("MyAPP").toStdString()));

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    // It sends nothing to any drive: the first may be flashing one. With --record, a
    // drive session would leave a recording of its search for drives.
    const QString record = dir.filePath("second.jsonl");
    second.start(TAVOFLASH_BINARY, {"--emulate", "--record", record});
    const bool finished = second.waitForFinished(30000);
    if (!finished) second.kill();
    QVERIFY2(finished, "the second instance kept running (it should end at once)");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QVERIFY2(!QFileInfo::exists(record), "the second instance opened the drives");
  }

  void noDisplayNamesTheTerminalProgram() {
    const TRun run = RunProgram({"--emulate"});  // xcb without DISPLAY
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("tavoflash-cli"), run.err.constData());
    QVERIFY(!run.err.contains("platform plugin"));
  }

  void screenshotIsSavedOnceTheRunHasEndedWithItsExitCode() {
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.png");
    const TRun run = RunProgram({"--emulate=other-family", "--screenshot", shot}, "offscreen",
                                {"TAVOFLASH_DEMO_AUTOSTART=1"});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);  // the checks refuse that drive
    QVERIFY2(QFileInfo(shot).size() > 0, run.err.constData());
  }

  void raiseRequestBringsTheFirstWindowForward() {
    QTemporaryDir dir;
    QWidget first;
    tavo::TRaiseChannel channel(&first);
    QVERIFY(channel.Listen(dir.filePath("MyAPP.raise")));
    QVERIFY(!first.isVisible());
    QVERIFY(tavo::TRaiseChannel::AskFirstToRaise(dir.filePath("MyAPP.raise")));
    QTRY_VERIFY(first.isVisible());
    // Nobody listening: the second start is told so and just ends.
    QVERIFY(!tavo::TRaiseChannel::AskFirstToRaise(dir.filePath("nobody")));
  }

  // A window at the restart question holds nothing: the drive's lock is free, the outcome
  // is in the run log, and SIGTERM ends the program at once.
  void sigtermAtTheRestartQuestionEndsAtOnce() {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_STATE_HOME", dir.path());
    env.insert("TAVOFLASH_LOCK_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TAVOFLASH_DEMO_AUTOSTART", "1");  // starts the run; the question waits
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.filePath("no-bus"));
    QProcess window;
    window.setProcessEnvironment(env);
    window.start(TAVOFLASH_BINARY, {"--emulate"});
    QVERIFY(window.waitForStarted());
    const auto outcomeLogged = [&] {
      for (const QFileInfo& log : QDir(dir.filePath("tavoflash")).entryInfoList({"run-*.log"})) {
        QFile file(log.filePath());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains("outcome: ")) return true;
      }
      return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(outcomeLogged(), 90000);
    QTest::qWait(200);  // the question follows the outcome at once
    QCOMPARE(window.state(), QProcess::Running);
    tavo::TDriveLock other;
    QCOMPARE(other.Acquire("emulated:sr0", {dir.path().toStdString()}),
             tavo::TDriveLockResult::Taken);
    ::kill(static_cast<pid_t>(window.processId()), SIGTERM);
    const bool ended = window.waitForFinished(1000);
    if (!ended) {
      window.kill();
      window.waitForFinished();
    }
    QVERIFY2(ended, "still running a second after SIGTERM at the restart question");
    QCOMPARE(window.exitStatus(), QProcess::CrashExit);  // ended by the signal
  }

  void badUsageEndsNonZeroWithAMessage() {
    // A malformed start-up option: answered before the toolkit starts.
    TRun run = RunProgram({"--emulate=no-such-profile"});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("no-such-profile"), run.err.constData());
    // One line and a pointer to --help, not the whole usage.
    QCOMPARE(run.err.count('\n'), 2);
    QVERIFY(run.err.endsWith("Try 'tavoflash --help'.\n"));

    // A mistyped option: a usage error before the display is even looked at.
    run = RunProgram({"--emulat"});  // xcb without DISPLAY
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("unknown option --emulat (did you mean --emulate?)"),
             run.err.constData());

    // An unknown option: checked once the toolkit has taken its own options.
    run = RunProgram({"-platform", "offscreen", "--emulate", "--bogus"}, "offscreen");
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("unknown option --bogus"), run.err.constData());
    QVERIFY(!run.err.contains("unknown option -platform"));

    // A log file that cannot be written: said before any drive is opened.
    run = RunProgram({"--emulate", "--log", "/nonexistent-tavo/x.log"}, "offscreen");
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("tavoflash: cannot write the log to /nonexistent-tavo/x.log: "
                                "No such file or directory\n"),
             run.err.constData());
  }
};

int RunProgramTests(int argc, char** argv) {
  TProgramTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_program.moc"
