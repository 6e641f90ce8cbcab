// The restart request over D-Bus, against a stand-in for logind on a private bus: the
// right service, object, interface and method, the interactive argument, and permission
// for polkit to ask the user.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "app/restarter.h"

namespace {

class TFakeLogind final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  int calls = 0;
  bool interactive = false;
  bool authorizationAllowed = false;

 public slots:
  Q_SCRIPTABLE void Reboot(bool interactiveArg, const QDBusMessage& message) {
    ++calls;
    interactive = interactiveArg;
    authorizationAllowed = message.isInteractiveAuthorizationAllowed();
  }
};

}  // namespace

class TRestarterTest : public QObject {
  Q_OBJECT

 private slots:
  void logindRebootIsRequestedInteractively() {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) QSKIP("dbus-daemon is not installed");
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
    QVERIFY(bus.waitForStarted());
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromLatin1(bus.readLine()).trimmed();
    QVERIFY(!address.isEmpty());
    // The system bus of this process is the private one (read when first used).
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLatin1());

    {
      QDBusConnection service = QDBusConnection::connectToBus(address, "fake-logind");
      QVERIFY(service.isConnected());
      TFakeLogind logind;
      QVERIFY(service.registerObject("/org/freedesktop/login1", &logind,
                                     QDBusConnection::ExportScriptableSlots));
      QVERIFY(service.registerService("org.freedesktop.login1"));

      tavo::TLogindRestarter restarter;
      restarter.RequestReboot();
      QTRY_COMPARE(logind.calls, 1);
      QVERIFY(logind.interactive);
      QVERIFY(logind.authorizationAllowed);
      service.unregisterObject("/org/freedesktop/login1");
    }
    QDBusConnection::disconnectFromBus("fake-logind");
    bus.terminate();
    bus.waitForFinished();
  }

  void emulationOnlyLogs() {
    std::vector<std::string> lines;
    tavo::TEmulatedRestarter restarter([&](const std::string& l) { lines.push_back(l); });
    restarter.RequestReboot();
    QCOMPARE(lines.size(), size_t{1});
    QCOMPARE(lines[0], std::string(tavo::TEmulatedRestarter::kLogLine));
  }
};

int RunRestarterTests(int argc, char** argv) {
  TRestarterTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_restarter.moc"
