#include "app/atapi_sink.h"

#include <QCoreApplication>
#include <QThread>

namespace tavo {

namespace {

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

void TQtAtapiSink::ShowPlainMessage(const std::string& text) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || OnGuiThread()) {
    dialogs_.Inform("", text, TDialogIcon::None);
    return;
  }
  // From the flash worker: the box belongs to the GUI thread; the worker waits for OK.
  QMetaObject::invokeMethod(
      app, [this, &text] { dialogs_.Inform("", text, TDialogIcon::None); },
      Qt::BlockingQueuedConnection);
}

void TQtAtapiSink::PumpMessage() {
  // The worker has no window messages: the GUI thread's event loop runs by itself.
  if (OnGuiThread()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

}  // namespace tavo
