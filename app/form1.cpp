#include "app/form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <algorithm>
#include <utility>

#include "app/log_marks.h"
#include "app/raw_text.h"
#include "session/drive_report.h"
#include "session/unreached_drives.h"

namespace tavo {

namespace {

// Forwards double clicks anywhere on the status bar (its panel and progress bar included)
// to the window.
class TDoubleClickFilter final : public QObject {
 public:
  TDoubleClickFilter(QObject* parent, TForm1* form) : QObject(parent), form_(form) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonDblClick) {
      form_->StatusBar1DblClick();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  TForm1* form_;
};

// The font at the largest point size, not above its own, at which every text fits in width
// pixels. Desktop fonts are wider than the small font the layout was drawn for; shrinking
// keeps the log and the status panel readable instead of cutting their lines off.
QFont FittingFont(QFont font, const QStringList& texts, int width) {
  // Below this size text stops being comfortably readable; a narrower cut of the same
  // family is tried first, so the size drops as little as possible.
  constexpr qreal kSmallest = 7.0;
  qreal size = font.pointSizeF();
  if (size <= 0) {
    return font;  // a pixel-sized font is left as it is
  }
  const auto widest = [&] {
    const QFontMetrics metrics(font);
    int w = 0;
    for (const QString& text : texts) {
      w = std::max(w, metrics.horizontalAdvance(text));
    }
    return w;
  };
  if (widest() > width) {
    font.setStretch(QFont::Condensed);
  }
  while (size > kSmallest && widest() > width) {
    size = std::max(kSmallest, size - 0.5);
    font.setPointSizeF(size);
  }
  return font;
}

}  // namespace

TForm1::TForm1(TAtapi& atapi, const TFirmwareImage& image, TClock& clock, TDialogs& dialogs,
               TRestarter& restarter, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs),
      restarter_(restarter),
      atapi_(atapi),
      engine_(state_, atapi, image, *this, clock),
      image_(image),
      clock_(clock) {
  BuildControls();
  BuildCheckAction();
  BuildAboutAction();
  BuildSupportAction();
  BuildRestoreAction();
#ifndef QT_NO_SESSIONMANAGER
  // A session logout that arrives while messages are processed inside a run is refused
  // like any other close request: the drive must not be left half flashed.
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
      if (runInProgress_) {
        AddLog(kCloseRefusedLine);
        if (manager.allowsInteraction()) {
          manager.cancel();
        }
      }
    });
  }
#endif
  FormCreate();
}

TForm1::~TForm1() {
  // Destroyed under a run or a check only when the program is being torn down anyway: it
  // still goes to its end, with its questions answered here, before the window goes.
  while (runInProgress_ || checkInProgress_) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

void TForm1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setFixedSize(298, 315);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(0, 296, 298, 19);
  // Panel 0. It takes the room left of the progress bar so that the drive's list text
  // stays readable.
  StatusPanel0 = new QLabel(StatusBar1);
  StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
  StatusPanel0->setGeometry(2, 2, 165, 17);
  ProgressBar1 = new QProgressBar(StatusBar1);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(169, 2, 128, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  StatusBar1->installEventFilter(new TDoubleClickFilter(this, this));

  GroupBox1 = new QGroupBox(QStringLiteral("Select Source : "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  // The group box above "Select File : ", where the drive list belongs: the reference top
  // of 255 would put it over the log and the status bar.
  GroupBox1->setGeometry(4, 4, 293, 65);
  SelDevice = new QComboBox(GroupBox1);
  SelDevice->setObjectName(QStringLiteral("SelDevice"));
  SelDevice->setEditable(false);
  SelDevice->setGeometry(30, 25, 227, 21);
  connect(SelDevice, &QComboBox::activated, this, &TForm1::SelDeviceChange);

  GroupBox2 = new QGroupBox(QStringLiteral("Select File : "), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(4, 71, 293, 50);
  Edit1 = new QLineEdit(GroupBox2);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setReadOnly(true);
  // Four pixels lower than the reference: Qt draws the group box title above the frame
  // line, and at 16 the field would sit on that line.
  Edit1->setGeometry(31, 20, 226, 21);
  BitBtn1 = new QPushButton(QStringLiteral("&Open"), GroupBox2);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(190, 16, 75, 25);
  BitBtn1->setVisible(false);

  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  // Long lines are clipped, as in a plain list box; a horizontal bar would take two lines'
  // height from the log.
  ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ListBox1->setGeometry(0, 160, 298, 136);
  {
    // The notice lines are the longest lines the log shows; they must fit beside the
    // vertical scroll bar that a run's lines bring.
    QStringList notice;
    for (const char* line : TFlashEngine::kNoticeLines) {
      notice << QString::fromLatin1(line);
    }
    const int textMargin =
        style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ListBox1) + 1;
    const int room = ListBox1->width() - 2 * ListBox1->frameWidth() -
                     style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListBox1) -
                     2 * textMargin;
    ListBox1->setFont(FittingFont(ListBox1->font(), notice, room));
  }

  BitBtn2 = new QPushButton(QStringLiteral("&Start"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(49, 128, 75, 25);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);

  BitBtn3 = new QPushButton(QStringLiteral("&Exit"), this);
  BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
  BitBtn3->setGeometry(185, 128, 75, 25);
  connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
}

void TForm1::FormCreate() {
  setWindowTitle(QStringLiteral("TAVOFlash V1.01A"));
  if (RunStartup(engine_, state_, *this, *this) == TStartupOutcome::Cancelled) {
    state_.closeRequest = 1;
  }
}

// --- TStartupHooks ---

void TForm1::ShowImageIdentity(const std::string& identity) {
  Edit1->setText(RawText(identity));
}

bool TForm1::Confirm(const std::string& question) {
  return dialogs_.AskOkCancel("WARNING", question, TDialogIcon::Warning);
}

bool TForm1::ChooseDrive(TFlashState& state) {
  const QSignalBlocker block(SelDevice);
  for (const std::string& item : state.items) {
    SelDevice->addItem(RawText(item));
  }
  SelDevice->setCurrentIndex(state.selectedItem);
  for (const std::string& line : UnreachedDriveLines(atapi_, state.edit1)) AddLog(line);
  return true;
}

bool TForm1::NoMatchingDrive() {
  noDrive_ = true;
  for (const std::string& reason : NoDriveReasons(atapi_, state_.edit1, "tavoflash")) {
    AddLog(reason);
  }
  for (const std::string& line : UnreachedDriveLines(atapi_, state_.edit1)) AddLog(line);
  dialogs_.Inform("ERROR", "Can't find the device to upgrade !!", TDialogIcon::Error);
  state_.closeRequest = 1;
  return true;  // the caption and the notice lines are still shown before the window closes
}

void TForm1::ShowSelection(const std::string& caption, const std::string& /*selected*/) {
  ShowSelectedItem();
  setWindowTitle(RawText(caption));
}

void TForm1::ShowSelectedItem() {
  const std::string text = state_.SelectedItemText();
  StatusPanel0->setFont(FittingFont(font(), {RawText(text)}, StatusPanel0->contentsRect().width()));
  StatusPanel0->setText(RawText(text));
  const QString target = ShowTarget();
  StatusPanel0->setToolTip(text.empty() ? QString() : RawText(text) + "\n" + target);
  if (text.empty()) {
    BitBtn2->setEnabled(false);
  }
}

QString TForm1::ShowTarget() {
  // Before "&Start": which drive a run writes, and the revision change.
  const QString target =
      state_.SelectedItemText().empty()
          ? QString()
          : "&Start flashes " + QString::fromStdString(TargetText(SelectedTarget(atapi_, state_))) +
                ".";
  BitBtn2->setToolTip(target);
  return target;
}

void TForm1::SelDeviceChange(int index) {
  // The drive of a run or a check was decided when it started; the list is locked until it
  // has ended.
  if (runInProgress_ || checkInProgress_) return;
  if (state_.items.empty() || state_.items[0].empty()) {
    return;
  }
  state_.selectedItem = index;
  engine_.SelectCurrentItem();
  ShowSelectedItem();
}

void TForm1::BitBtn2Click() {
  if (runInProgress_ || checkInProgress_) return;
  StartRun();
}

void TForm1::SetDriveActionsEnabled(bool enabled) {
  CheckAction->setEnabled(enabled);
  RestoreAction->setEnabled(enabled);
}

void TForm1::StartRun(const std::string& firstLine) {
  // Decided and frozen here, before the worker starts: the drive list, both buttons and the
  // context menu's drive actions stay locked until FinishRun, so the drive the guard locks
  // is the drive the run writes, and the window touches nothing the worker reads.
  runInProgress_ = true;
  SelDevice->setEnabled(false);
  BitBtn2->setEnabled(false);
  BitBtn3->setEnabled(false);
  SetDriveActionsEnabled(false);
  SelDevice->repaint();
  runItem_ = state_.selectedItem;
  signalNoticeShown_ = false;
  deferral_ = std::make_unique<TSignalDeferral>();
  if (deferral_->Active()) {
    signalNotifier_ = new QSocketNotifier(deferral_->Fd(), QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &TForm1::OnSignalArrived);
  }
  if (record_ != nullptr) {
    record_->Begin(atapi_, state_, engine_.Image());
  }
  if (!firstLine.empty()) AddLog(firstLine);
  const std::string device = SelectedDevice(state_, atapi_);
  worker_ = std::thread([this, device] {
    runFacts_ = RefusedFacts("the run was refused before it began (the lines above say why).",
                             kProgramName);
    if (guard_.Begin(device, [this](const std::string& line) { AddLog(line); })) {
      engine_.BitBtn2Click();
      runFacts_ = FactsOfRun(engine_, kProgramName);
      // The new revision is read while the drive is still held: the last drive command.
      if (engine_.LastRunVerified()) runFacts_.newRevision = ReadDriveRevision(atapi_);
    }
    guard_.End();
    Post([this] { FinishRun(); });
  });
}

void TForm1::OnSignalArrived() {
  if (deferral_ && deferral_->TakeArrivals() > 0 && !signalNoticeShown_) {
    signalNoticeShown_ = true;
    AddLog(kSignalDeferredLine);
  }
}

void TForm1::FinishRun() {
  if (worker_.joinable()) worker_.join();
  // The drive is let go. The outcome goes to the log, the status bar and the run log while
  // signals still wait, so that a signal cannot cut it off; then they act as usual again.
  ShowOutcome();
  EndRestore();
  delete signalNotifier_;
  signalNotifier_ = nullptr;
  const int caught = deferral_ ? deferral_->Caught() : 0;
  deferral_.reset();
  if (caught != 0) EndBySignal(caught);
  runInProgress_ = false;
  // Nothing is held while the question waits for an answer: a close or a signal then ends
  // the program at once.
  if (runFacts_.outcome == TOutcomeClass::Verified) engine_.OfferReboot();
  SelDevice->setEnabled(true);
  BitBtn2->setEnabled(true);
  BitBtn3->setEnabled(true);
  SetDriveActionsEnabled(true);
  ShowTarget();  // the drive's revision has changed; the outcome keeps the panel's own tip
  emit RunFinished();
}

void TForm1::BitBtn3Click() {
  close();
}

void TForm1::StatusBar1DblClick() {
  setWindowTitle(QStringLiteral("TAVOFlash V1.01A"));
}

void TForm1::FormPaint() {
  if (state_.closeRequest != 0 && !closeScheduled_) {
    // Closed right after this paint rather than from inside it.
    closeScheduled_ = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  }
}

void TForm1::FormActivate() {
  ListBox1->clearSelection();
  ListBox1->setCurrentRow(-1);
}

void TForm1::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  FormPaint();
}

void TForm1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    FormActivate();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (runInProgress_) {
    // The window answers during a run; honouring the close here would end the program
    // under the run and leave the drive half flashed.
    event->ignore();
    AddLog(kCloseRefusedLine);
    return;
  }
  event->accept();
}

}  // namespace tavo
