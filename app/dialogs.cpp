#include "app/dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
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

bool TQtDialogs::AskYesNo(const std::string& caption, const std::string& text, TDialogIcon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

int TQtDialogs::ChooseItem(const std::string& caption, const std::string& label,
                           const std::vector<std::string>& items) {
  QStringList texts;
  for (const std::string& item : items) texts << QString::fromStdString(item);
  QInputDialog dialog;
  dialog.setWindowTitle(QString::fromStdString(caption));
  dialog.setLabelText(QString::fromStdString(label));
  dialog.setComboBoxItems(texts);
  dialog.setComboBoxEditable(false);
  dialog.setOption(QInputDialog::UseListViewForComboBoxItems);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return -1;
  return static_cast<int>(texts.indexOf(dialog.textValue()));
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
