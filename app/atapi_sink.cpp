#include "app/atapi_sink.h"

#include <QCoreApplication>

namespace tavo {

void TQtAtapiSink::ShowPlainMessage(const std::string& text) {
  dialogs_.Inform("", text, TDialogIcon::None);
}

void TQtAtapiSink::PumpMessage() {
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

}  // namespace tavo
