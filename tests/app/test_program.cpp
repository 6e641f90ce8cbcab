// The built program's command line: help and bad usage are answered on the terminal, also
// where no display exists, and bad usage ends with a non-zero code.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct TRun {
  int exitCode = -1;
  QProcess::ExitStatus status = QProcess::CrashExit;
  QByteArray out;
  QByteArray err;
};

// Runs the program with the given arguments; headless: no display at all, so a window
// (or the toolkit's start) would fail.
TRun RunProgram(const QStringList& args, const QString& platform = QString()) {
  QTemporaryDir runtime;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
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

  void badUsageEndsNonZeroWithAMessage() {
    // A malformed start-up option: answered before the toolkit starts.
    TRun run = RunProgram({"--emulate=no-such-profile"});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("no-such-profile"), run.err.constData());
    QVERIFY(run.err.contains("Usage: tavoflash"));

    // An unknown option: checked once the toolkit has taken its own options.
    run = RunProgram({"-platform", "offscreen", "--emulate", "--bogus"}, "offscreen");
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("unknown option --bogus"), run.err.constData());
    QVERIFY(!run.err.contains("unknown option -platform"));
  }
};

int RunProgramTests(int argc, char** argv) {
  TProgramTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_program.moc"
