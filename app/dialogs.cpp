#include "app/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

namespace tavo {

namespace {

QMessageBox::Icon ToQt(TDialogIcon icon) {
  switch (icon) {
    case TDialogIcon::Warning:
      return QMessageBox::Warning;
    case TDialogIcon::Error:
      return QMessageBox::Critical;
    case TDialogIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

bool TQtDialogs::AskOkCancel(const std::string& caption, const std::string& text,
                             TDialogIcon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Ok;
}

void TQtDialogs::Inform(const std::string& caption, const std::string& text, TDialogIcon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

std::string TQtDialogs::AskSaveFile(const std::string& caption, const std::string& suggested) {
  // The program refuses to replace a file itself (and says so): the dialog does not ask.
  return QFileDialog::getSaveFileName(nullptr, QString::fromStdString(caption),
                                      QString::fromStdString(suggested),
                                      QStringLiteral("Support reports (*.tar.gz)"), nullptr,
                                      QFileDialog::DontConfirmOverwrite)
      .toStdString();
}

bool TDemoDialogs::AskOkCancel(const std::string& caption, const std::string& text,
                               TDialogIcon icon) {
  if (caption == "WARNING") {
    return true;
  }
  return real_.AskOkCancel(caption, text, icon);
}

void TDemoDialogs::Inform(const std::string& caption, const std::string& text, TDialogIcon icon) {
  real_.Inform(caption, text, icon);
}

}  // namespace tavo
