// TForm1: the main window. It owns the controls, the state the procedures share and the
// flash engine, and it is the engine's way to the user (TUserPort).
//
// A flash run goes on a worker thread, so that the window answers throughout. The port's
// calls made on the worker reach the controls on the GUI thread in the order they were
// made (queued); questions are asked on the GUI thread while the worker waits for the
// answer. Until the run has ended (RunFinished), close requests are refused and
// terminating signals wait (the first one is noted in the log).
//
// The window's context menu (right-click) holds the check of the drives: the same reading
// commands only check as tavoflash-cli --check, on the same worker thread, with its verdict
// lines in the log. A check and a run never overlap. It also holds "About TAVOFlash": the
// version, the image and the licence; "Save a report for support…"; and "Restore from a
// backup…": a backup of the selected drive, chosen from the kept ones, flashed back by
// the same run as "&Start" after the same last question as the terminal's.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/dialogs.h"
#include "drive/atapi.h"
#include "drive/clock.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"
#include "image/firmware_image.h"
#include "platform/restart.h"
#include "platform/signal_deferral.h"
#include "session/run_guard.h"
#include "session/run_outcome.h"
#include "session/run_record.h"
#include "session/startup.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QAction;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QStatusBar;

namespace tavo {

class TForm1 final : public QWidget, public TUserPort, private TStartupHooks {
  Q_OBJECT

 public:
  // Builds the controls and runs FormCreate (the start-up sequence: the confirmation and
  // the drive list). Every collaborator must outlive the window.
  TForm1(TAtapi& atapi, const TFirmwareImage& image, TClock& clock, TDialogs& dialogs,
         TRestarter& restarter, QWidget* parent = nullptr);
  ~TForm1() override;

  // TUserPort.
  void AddLog(const std::string& text) override;
  void SetProgress(int value) override;
  void SetProgressRange(int minimum, int maximum) override;
  void RepaintProgress() override;
  void ProcessMessages() override;
  void SetControlEnabled(TControl control, bool enabled) override;
  void RepaintControl(TControl control) override;
  bool AskReboot() override;
  void RequestReboot() override;
  void SetPhase(const TPhase& phase) override;

  // The run log every log line and each run's outcome go to (none: no log).
  void SetRunRecord(TRunRecord* record) { record_ = record; }
  // Where each run keeps the drive's firmware before its first command that writes (none:
  // the runs make no backup). It must outlive the window.
  void SetBackupStore(TBackupStore* store) { engine_.SetBackupStore(store); }
  // Called once a run has ended and its outcome is shown; verified: it verified.
  void SetRunEndedHandler(std::function<void(bool verified)> handler) {
    runEnded_ = std::move(handler);
  }

  // True when the start-up found no drive of the image's model.
  bool NoDriveFound() const { return noDrive_; }
  const TFlashState& State() const { return state_; }
  const TFlashEngine& Engine() const { return engine_; }
  // True from "&Start" until the run has ended and RunFinished has been emitted.
  bool RunInProgress() const { return runInProgress_; }
  // True from the check's start until its lines are in the log and CheckFinished is emitted.
  bool CheckInProgress() const { return checkInProgress_; }

  // The program the outcome words name, and how they point to the window's own check.
  static constexpr const char* kProgramName = "TAVOFlash";
  static constexpr const char* kCheckAdvice =
      "right-click the window and choose \"Check the drives\"";
  // Shown in the log when a close request arrives while the drive is being flashed.
  // Short enough to fit the log without being cut off.
  static constexpr const char* kCloseRefusedLine =
      "Please wait until flashing ends, then close TAVOFlash.";
  // Shown in the log when the first terminating signal arrives during a run.
  static constexpr const char* kSignalDeferredLine =
      "Flashing in progress: will quit when it is safe.";

 signals:
  // The run started by "&Start" has ended: the controls are back and closing works again.
  void RunFinished();
  // The check of the drives has ended: its verdict lines are in the log.
  void CheckFinished();

 public slots:
  void BitBtn2Click();
  void BitBtn3Click();
  void SelDeviceChange(int index);
  void StatusBar1DblClick();
  // Checks every drive with reading commands only, on the worker thread.
  void CheckDrivesClick();
  // Chooses a backup of the selected drive, asks the last question and, on Yes, flashes
  // the backup back by the run "&Start" makes (form1_restore.cpp).
  void RestoreFromBackupClick();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void FormCreate();
  // TStartupHooks: the start-up sequence's questions and results in the window.
  void ShowImageIdentity(const std::string& identity) override;
  bool Confirm(const std::string& question) override;
  bool ChooseDrive(TFlashState& state) override;
  bool NoMatchingDrive() override;
  void ShowSelection(const std::string& caption, const std::string& selected) override;
  void FormPaint();
  void FormActivate();
  QWidget* ControlWidget(TControl control) const;
  void ShowSelectedItem();
  // The Start button's tip: the drive a run writes and the revision change; returned too.
  QString ShowTarget();
  // The plain explanation of the last failure line, in the status bar (form1_outcome.cpp).
  void ShowExplanation(const std::string& explanation);
  // After a run, on the GUI thread once the worker has ended: the outcome paragraph in the
  // log and the status bar, the new revision in the list after a verified run, the run
  // log's outcome.
  void ShowOutcome();
  bool OnGuiThread() const;
  // Runs f on the GUI thread after what was posted before it; BlockingQueued: and waits.
  template <typename F>
  void Post(F&& f);
  template <typename F>
  void Await(F&& f);
  // The port's operations on the controls, on the GUI thread.
  void AddLogNow(const std::string& text);
  void SetProgressNow(int value);
  void SetProgressRangeNow(int minimum, int maximum);
  void OnSignalArrived();
  // Locks the controls and starts the run on the worker thread with the image the engine
  // holds; FinishRun ends it on the GUI thread. firstLine: logged first (none when empty).
  void StartRun(const std::string& firstLine = {});
  void FinishRun();
  // Locks or unlocks the context menu's actions that send commands to the drives.
  void SetDriveActionsEnabled(bool enabled);
  // The context menu's check action (form1_check.cpp).
  void BuildCheckAction();
  void FinishCheck(const std::vector<std::string>& lines);
  // The context menu's "About TAVOFlash" (form1_about.cpp) and the text its box shows.
  void BuildAboutAction();
  std::string AboutText() const;
  // The context menu's "Save a report for support…" (form1_support.cpp).
  void BuildSupportAction();
  void SaveSupportReport();
  // The context menu's "Restore from a backup…" (form1_restore.cpp). EndRestore: the
  // engine flashes the window's own image again, as a run without a restore does.
  void BuildRestoreAction();
  void EndRestore();

  TFlashState state_;
  TDialogs& dialogs_;
  TRestarter& restarter_;
  TAtapi& atapi_;
  TFlashEngine engine_;
  bool closeScheduled_ = false;
  const TFirmwareImage& image_;
  TClock& clock_;
  TRunRecord* record_ = nullptr;
  bool noDrive_ = false;
  std::function<void(bool)> runEnded_;

  // The run: GUI-thread state, and what the worker holds for it.
  bool runInProgress_ = false;
  bool signalNoticeShown_ = false;
  std::thread worker_;
  TRunGuard guard_;
  std::unique_ptr<TSignalDeferral> deferral_;
  // The list item the run was started on (the list stays locked until the run has ended).
  int runItem_ = -1;
  // Written by the worker at the end of its run, read on the GUI thread after it ended:
  // what the run left the drive in and, after a verified run, the revision the drive
  // reports now (read by the worker while it still held the drive).
  TRunFacts runFacts_;
  // Written by the worker with runFacts_: the run stopped because no backup could be made.
  // The explanation of the last failure line of the run, kept for the outcome's tooltip.
  std::string lastExplanation_;
  // The backup a restore flashes, for that one run: set on the GUI thread before the worker
  // starts, dropped after it has ended. The image reads the bytes kept beside it.
  struct TRestoreImage {
    explicit TRestoreImage(std::vector<uint8_t> bytes)
        : container(std::move(bytes)), image(container) {}
    std::vector<uint8_t> container;
    TFirmwareImage image;
  };
  std::unique_ptr<TRestoreImage> restoreImage_;
  // The check: GUI-thread state; the controls it locks get back the state they had.
  bool checkInProgress_ = false;
  bool startEnabledBeforeCheck_ = false;
  bool listEnabledBeforeCheck_ = false;
  QSocketNotifier* signalNotifier_ = nullptr;
  // Progress values from the worker: consecutive values share one delivery, the last
  // value wins; a range change starts a new delivery so the order stays as called.
  struct TProgressSlot {
    int value = 0;
    bool delivered = false;
  };
  std::mutex progressMutex_;
  std::shared_ptr<TProgressSlot> progressSlot_;

  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QComboBox* SelDevice = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QAction* CheckAction = nullptr;
  QAction* AboutAction = nullptr;
  QAction* SupportAction = nullptr;
  QAction* RestoreAction = nullptr;
};

// Post runs f on the window's thread later, in order with the other posted calls; Await
// runs it there and waits for it (at once when already on that thread).
template <typename F>
inline void TForm1::Post(F&& f) {
  QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

template <typename F>
inline void TForm1::Await(F&& f) {
  if (OnGuiThread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

}  // namespace tavo
