// The window's "Restore from a backup…", offered in its context menu: one of the backups of
// the selected drive's model kept under the state folder, checked as tavoflash-cli
// --restore checks it, the same last question, then the run "&Start" makes with the backup
// as the image (the drive's own backup first, the lock, the guard, the verification against
// the backup's SHA-256, the outcome words and the run log). Everything is decided here on
// the GUI thread; the engine flashes the window's own image again once the run has ended.
#include <QAction>
#include <cctype>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/backup_files.h"
#include "session/drive_backup.h"
#include "session/drive_report.h"

namespace tavo {

namespace {

constexpr const char* kRestoreCaption = "Restore from a backup";

// "No backups in ..." when the folder holds none of the drive's model, and where they come
// from; others: how many backups of other drives are there.
std::string NoBackupText(const std::string& folder, const std::string& model, size_t others) {
  if (folder.empty()) {
    return "There is no folder for backups: neither XDG_STATE_HOME nor HOME is set.";
  }
  std::string text = others == 0 ? "No backups in " + folder + "."
                                 : "No backup of the " + model + " in " + folder + " (the " +
                                       std::to_string(others) + " kept there are of other drives).";
  return text +
         "\n\nEvery run keeps the drive's firmware there before it writes anything, unless "
         "--no-backup was given.";
}

// A sentence of the backup checks, as the start of a message.
std::string Capitalised(std::string sentence) {
  if (!sentence.empty()) sentence[0] = static_cast<char>(std::toupper(sentence[0]));
  return sentence;
}

}  // namespace

void TForm1::BuildRestoreAction() {
  RestoreAction = new QAction(QStringLiteral("Restore from a backup\u2026"), this);
  RestoreAction->setObjectName(QStringLiteral("RestoreAction"));
  const QString tip = QStringLiteral(
      "Flashes a backup of the selected drive back to it: every run keeps one before it "
      "writes. The same checks, question and verification as a run.");
  RestoreAction->setToolTip(tip);
  RestoreAction->setStatusTip(tip);
  connect(RestoreAction, &QAction::triggered, this, &TForm1::RestoreFromBackupClick);
  addAction(RestoreAction);
}

void TForm1::RestoreFromBackupClick() {
  if (runInProgress_ || checkInProgress_ || state_.SelectedItemText().empty()) return;
  const TFlashTarget drive = SelectedTarget(atapi_, state_);
  // Only backups of the selected drive's vendor and product are offered.
  const std::string folder = BackupDirectory();
  std::vector<std::string> paths;
  std::vector<std::string> lines;
  size_t others = 0;
  for (const auto& [path, manifest] : ListBackups(folder)) {
    if (!BackupOfModel(manifest, state_.SelectedItemText())) {
      ++others;
      continue;
    }
    paths.push_back(path);
    lines.push_back(BackupLine(manifest) + "\n    " + manifest.container);
  }
  if (paths.empty()) {
    dialogs_.Inform(kRestoreCaption, NoBackupText(folder, drive.model, others), TDialogIcon::None);
    return;
  }
  const int chosen = dialogs_.ChooseItem(kRestoreCaption,
                                         "Backups of the " + drive.model + " in " + folder +
                                             ", oldest first.\nThe one to flash back to drive [" +
                                             std::to_string(drive.item) + "] " + drive.device + ":",
                                         lines);
  if (chosen < 0 || chosen >= static_cast<int>(paths.size())) return;

  // The file is checked again as it is now: it may have changed since it was listed.
  std::string error;
  std::optional<TLoadedBackup> backup = LoadBackup(paths[static_cast<size_t>(chosen)], error);
  if (backup && !BackupOfModel(backup->manifest, state_.SelectedItemText())) {
    error = "the backup " + backup->path + " is not one of the " + drive.model + ".";
  }
  if (!backup || !error.empty()) {
    dialogs_.Inform(kRestoreCaption, Capitalised(error) + "\n\nNothing was sent to the drive.",
                    TDialogIcon::Error);
    return;
  }
  restoreImage_ = std::make_unique<TRestoreImage>(std::move(backup->container));
  engine_.UseImage(restoreImage_->image);
  // "Select File" shows what this run flashes: the backup's identity, with its revision.
  ShowImageIdentity(state_.edit1);
  // The question names the revision change to the backup's revision, as the terminal's.
  const std::string question =
      RestoreQuestion(TargetText(SelectedTarget(atapi_, state_)), backup->manifest);
  if (!dialogs_.AskYesNo(kRestoreCaption, question, TDialogIcon::Warning)) {
    EndRestore();
    return;
  }
  engine_.SetRestore(true);
  engine_.SetExpectedMemorySha256(backup->manifest.memorySha256);
  StartRun("Restoring " + BackupLine(backup->manifest) + ": " + backup->path);
}

void TForm1::EndRestore() {
  if (!restoreImage_) return;
  engine_.SetRestore(false);
  engine_.SetExpectedMemorySha256({});
  engine_.UseImage(image_);
  ShowImageIdentity(state_.edit1);
  restoreImage_.reset();
}

}  // namespace tavo
