#include "app/raise_channel.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "platform/instance_lock.h"

namespace tavo {

namespace {

constexpr int kWaitMs = 2000;
constexpr char kRaise[] = "raise\n";

}  // namespace

QString TRaiseChannel::Path() {
  return QString::fromStdString(InstanceLockPath() + ".raise");
}

bool TRaiseChannel::AskFirstToRaise(const QString& path) {
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(kWaitMs)) {
    return false;
  }
  socket.write(kRaise);
  const bool sent = socket.waitForBytesWritten(kWaitMs);
  socket.disconnectFromServer();
  return sent;
}

TRaiseChannel::TRaiseChannel(QWidget* window)
    : QObject(window), window_(window), server_(new QLocalServer(this)) {
  // Owned by the window when there is one; otherwise by whoever created it.
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &TRaiseChannel::Serve);
}

bool TRaiseChannel::Listen(const QString& path) {
  QLocalServer::removeServer(path);
  return server_->listen(path);
}

void TRaiseChannel::Serve() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->readAll().startsWith("raise")) {
        return;
      }
      QWidget* target = QApplication::activeModalWidget();
      if (target == nullptr) {
        target = window_;
      }
      if (target == nullptr) {
        return;
      }
      target->showNormal();
      target->raise();
      target->activateWindow();
    });
  }
}

}  // namespace tavo
