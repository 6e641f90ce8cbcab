// The window's "Save a report for support…", offered in its context menu: the support
// report of the newest run (what tavoflash-cli --report writes), to a file the user picks.
#include <QAction>
#include <QDir>
#include <string>

#include "app/form1.h"
#include "platform/run_log.h"
#include "session/support_report.h"

namespace tavo {

void TForm1::BuildSupportAction() {
  SupportAction = new QAction(QStringLiteral("Save a report for support\u2026"), this);
  SupportAction->setObjectName(QStringLiteral("SupportAction"));
  const QString tip = QStringLiteral(
      "Saves the newest run's log, recording and system facts in one file to send to "
      "support; user, home folder, host name and machine id are replaced.");
  SupportAction->setToolTip(tip);
  SupportAction->setStatusTip(tip);
  // It reads the run logs only: offered during a run and a check as well.
  connect(SupportAction, &QAction::triggered, this, &TForm1::SaveSupportReport);
  addAction(SupportAction);
}

void TForm1::SaveSupportReport() {
  const std::string suggested =
      (QDir::homePath() + QStringLiteral("/")).toStdString() + DefaultReportName();
  const std::string path = dialogs_.AskSaveFile("Save a report for support", suggested);
  if (path.empty()) return;
  const TReportResult result = WriteSupportReport({.program = "tavoflash",
                                                   .image = &image_,
                                                   .runLogDirectory = TRunLog::DefaultDirectory(),
                                                   .run = 1,
                                                   .target = path});
  if (!result.ok) {
    dialogs_.Inform("Save a report for support", "The report was not saved: " + result.error + ".",
                    TDialogIcon::Error);
    return;
  }
  std::string text = "The report was saved to " + result.path + ".";
  for (const std::string& note : result.notes) text += "\n\n" + note;
  text += "\n\nIt holds no user name, home folder, host name or machine id.";
  dialogs_.Inform("Save a report for support", text, TDialogIcon::None);
}

}  // namespace tavo
