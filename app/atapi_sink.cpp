#include "app/atapi_sink.h"

#include <QCoreApplication>
#include <QThread>

#include "session/line_explanations.h"

namespace tavo {

namespace {

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

void TQtAtapiSink::ShowPlainMessage(const std::string& message) {
  // The message as the drive layer words it, then what it means and what to do.
  std::string line = message;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  const std::string why = ExplainLine(line, "TAVOFlash");
  const std::string text = why.empty() ? message : line + "\n\n" + why;
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
