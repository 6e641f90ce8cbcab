#include "app/restarter.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace tavo {

void TLogindRestarter::RequestReboot() {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Reboot"));
  call << true;  // interactive: polkit may ask for authentication
  call.setInteractiveAuthorizationAllowed(true);
  // Sent without waiting for the reply: the polkit dialogue can take as long as the user
  // needs, and the outcome is not examined (a refused restart leaves the program running).
  QDBusConnection::systemBus().send(call);
}

void TEmulatedRestarter::RequestReboot() {
  if (log_) {
    log_(kLogLine);
  }
}

}  // namespace tavo
