// The window's check of the drives: from its context menu, the check tavoflash-cli --check
// makes (reading commands only), on the worker thread, with the same lines in the log.
#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <string>
#include <vector>

#include "app/form1.h"
#include "flash/drive_check.h"
#include "session/drive_claims.h"

namespace tavo {

void TForm1::BuildCheckAction() {
  CheckAction = new QAction(QStringLiteral("&Check the drives (nothing is written)"), this);
  CheckAction->setObjectName(QStringLiteral("CheckAction"));
  const QString tip = QStringLiteral(
      "Shows in the log, for every drive, whether a run would get past its checks. Only "
      "reading commands are sent.");
  CheckAction->setToolTip(tip);
  CheckAction->setStatusTip(tip);
  connect(CheckAction, &QAction::triggered, this, &TForm1::CheckDrivesClick);
  // A right-click anywhere on the window (the log and the status bar included) offers it;
  // the mandated controls stay as they are.
  addAction(CheckAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  ListBox1->setToolTip(QStringLiteral("Right-click to check the drives (nothing is written)"));
}

void TForm1::CheckDrivesClick() {
  if (runInProgress_ || checkInProgress_) return;
  checkInProgress_ = true;
  SetDriveActionsEnabled(false);
  // No run starts meanwhile, and the selection stays: the check selects each drive in turn.
  startEnabledBeforeCheck_ = BitBtn2->isEnabled();
  listEnabledBeforeCheck_ = SelDevice->isEnabled();
  BitBtn2->setEnabled(false);
  SelDevice->setEnabled(false);
  if (worker_.joinable()) worker_.join();
  worker_ = std::thread([this] {
    TLockClaims claims;  // a drive another program is flashing gets nothing
    std::vector<std::string> lines = CheckReportLines(CheckDrives(atapi_, image_, clock_, &claims));
    Post([this, lines = std::move(lines)] { FinishCheck(lines); });
  });
}

void TForm1::FinishCheck(const std::vector<std::string>& lines) {
  if (worker_.joinable()) worker_.join();
  // Back to the drive the window shows as selected.
  engine_.SelectCurrentItem();
  for (const std::string& line : lines) AddLog(line);
  BitBtn2->setEnabled(startEnabledBeforeCheck_);
  SelDevice->setEnabled(listEnabledBeforeCheck_);
  checkInProgress_ = false;
  SetDriveActionsEnabled(true);
  emit CheckFinished();
}

}  // namespace tavo
