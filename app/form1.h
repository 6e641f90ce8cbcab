// TForm1: the main window. It owns the controls, the state the procedures share and the
// flash engine, and it is the engine's way to the user (TUserPort).
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "app/dialogs.h"
#include "drive/atapi.h"
#include "drive/clock.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "flash/user_port.h"
#include "image/firmware_image.h"
#include "platform/restart.h"
#include "session/run_record.h"
#include "session/startup.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
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
  // Called once a run has ended and its outcome is shown; verified: it verified.
  void SetRunEndedHandler(std::function<void(bool verified)> handler) {
    runEnded_ = std::move(handler);
  }

  // True when the start-up found no drive of the image's model.
  bool NoDriveFound() const { return noDrive_; }
  const TFlashState& State() const { return state_; }
  const TFlashEngine& Engine() const { return engine_; }

  // Shown in the log when a close request arrives while the drive is being flashed.
  // Short enough to fit the log without being cut off.
  static constexpr const char* kCloseRefusedLine =
      "Please wait until flashing ends, then close TAVOFlash.";

 public slots:
  void BitBtn2Click();
  void BitBtn3Click();
  void SelDeviceChange(int index);
  void StatusBar1DblClick();

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
  // After a run: the outcome paragraph in the log and the status bar, the new revision in
  // the list after a verified run, the run log's outcome.
  void ShowOutcome();

  TFlashState state_;
  TDialogs& dialogs_;
  TRestarter& restarter_;
  TFlashEngine engine_;
  bool closeScheduled_ = false;
  TAtapi& atapi_;
  const TFirmwareImage& image_;
  TRunRecord* record_ = nullptr;
  bool noDrive_ = false;
  std::function<void(bool)> runEnded_;

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
};

}  // namespace tavo
