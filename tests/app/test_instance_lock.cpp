// The single-instance guard, across real processes: the lock itself between two processes,
// and the built program started while another instance holds it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "app/instance_lock.h"

using tavo::InstanceLockPath;
using tavo::TInstanceLock;

namespace {

// Tries the lock in a separate process; returns what Acquire said there.
bool AcquireInChild(const std::string& path) {
  const pid_t pid = fork();
  if (pid == 0) {
    TInstanceLock lock;
    _exit(lock.Acquire(path) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

class TInstanceLockTest : public QObject {
  Q_OBJECT

 private slots:
  void lockPathFollowsRuntimeDirectory() {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", "/run/user/4242");
    QCOMPARE(InstanceLockPath(), std::string("/run/user/4242/MyAPP"));
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(InstanceLockPath(), "/tmp/MyAPP-" + std::to_string(getuid()));
    qputenv("XDG_RUNTIME_DIR", saved);
  }

  void secondProcessIsRefusedUntilTheFirstEnds() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("MyAPP").toStdString();
    {
      TInstanceLock first;
      QVERIFY(first.Acquire(path));
      QVERIFY(first.Held());
      QVERIFY(!AcquireInChild(path));
    }
    QVERIFY(AcquireInChild(path));
  }

  void lockFileOfAnotherUserDoesNotBlockTheProgram() {
    // Someone else's file, locked by them: the program runs unguarded rather than never.
    QTemporaryDir dir;
    const std::string path = dir.filePath("MyAPP").toStdString();
    const int theirs = open(path.c_str(), O_RDWR | O_CREAT, 0666);
    QVERIFY(theirs >= 0);
    const uid_t other = geteuid() == 65534 ? 65533 : 65534;
    if (fchown(theirs, other, other) != 0) {
      close(theirs);
      QSKIP("cannot hand a file to another user here");
    }
    QCOMPARE(flock(theirs, LOCK_EX | LOCK_NB), 0);
    TInstanceLock lock;
    QVERIFY(lock.Acquire(path));
    QVERIFY(!lock.Held());
    close(theirs);
  }

  void secondProgramStartExitsSilently() {
    QTemporaryDir dir;
    TInstanceLock held;
    QVERIFY(held.Acquire(dir.filePath("MyAPP").toStdString()));

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.start(TAVOFLASH_BINARY, {"--emulate"});
    const bool finished = second.waitForFinished(30000);
    if (!finished) second.kill();
    QVERIFY2(finished, "the second instance kept running (it should end at once)");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
  }
};

int RunInstanceLockTests(int argc, char** argv) {
  TInstanceLockTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_instance_lock.moc"
