// The main window over virtual drives on a virtual clock: the start-up paths, the flash run
// started from the button, the status bar and the close request during a run. Message
// boxes are answered by TScriptedDialogs; no real modal box is ever shown.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/form1.h"
#include "drive/atapi.h"
#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"
#include "emulator/virtual_drive.h"
#include "image/firmware_image.h"
#include "platform/backup_files.h"
#include "platform/drive_lock.h"
#include "platform/restart.h"
#include "session/drive_backup.h"
#include "session/drive_session.h"
#include "session/line_explanations.h"
#include "session/run_history.h"
#include "session/run_record.h"
#include "session/version.h"
#include "tests/support/recording.h"
#include "tests/support/virtual_rig.h"

using namespace tavo;

namespace {

// Pinned on purpose: what the user sees in the window, byte for byte (the demo image's
// identity, the default virtual drive's list text and the notice).
const QString kImageIdentity = "TAVO    QRD-1040C       1.08";
const QString kDefaultItem = "TAVO    QRD-1040C        1.05";
const QStringList kNotice = {
    "Important Notice: ",
    "1. Before flashing, ensure that there is no media in the drive.",
    "2. Do not restart or shut down your system until it prompts you",
    "    to do so.",
    "    Turning off your system in the midst of flashing will damage",
    "    your drive.",
};

struct TDialogCall {
  std::string caption;
  std::string text;
  TDialogIcon icon;
};

class TScriptedDialogs final : public TDialogs {
 public:
  bool confirm = true;  // answer to the start-up confirmation ("WARNING")
  bool reboot = false;  // answer to the restart question ("Warning")
  std::function<void()> onRebootQuestion;
  std::vector<TDialogCall> calls;

  bool AskOkCancel(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    calls.push_back({caption, text, icon});
    if (caption == "Warning") {
      if (onRebootQuestion) onRebootQuestion();
      return reboot;
    }
    return confirm;
  }
  void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    calls.push_back({caption, text, icon});
  }
  std::string saveAs;  // the file chosen in a save dialog ("": cancelled)
  std::string AskSaveFile(const std::string& caption, const std::string&) override {
    calls.push_back({caption, "", TDialogIcon::None});
    return saveAs;
  }
  bool yes = true;                   // answer to a Yes/No question
  int choose = 0;                    // the item chosen from a list (-1: cancelled)
  std::vector<std::string> offered;  // the items of the last list
  bool AskYesNo(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    calls.push_back({caption, text, icon});
    return yes;
  }
  int ChooseItem(const std::string& caption, const std::string& label,
                 const std::vector<std::string>& items) override {
    calls.push_back({caption, label, TDialogIcon::None});
    offered = items;
    return choose;
  }
  int Count(const std::string& caption) const {
    int n = 0;
    for (const auto& c : calls) n += c.caption == caption ? 1 : 0;
    return n;
  }
};

class TCountingRestarter final : public TRestarter {
 public:
  int requests = 0;
  void RequestReboot() override { ++requests; }
};

// One window over its own virtual drives, reached through the programs' drive session.
// Members are destroyed window first, then the session, then the drives.
struct THarness {
  TVirtualClock clock;
  TScriptedDialogs dialogs;
  test::TRecordingSink sink;
  TCountingRestarter restarter;
  TVirtualBus bus{clock};
  std::unique_ptr<TDriveSession> session;
  TAtapi* atapi = nullptr;
  std::unique_ptr<TForm1> form;

  explicit THarness(const std::vector<TDriveProfile>& profiles, bool aspi = false,
                    bool confirm = true, const TFirmwareImage& image = EmbeddedImage()) {
    for (const TDriveProfile& p : profiles) bus.AddDrive(p);
    sink.pump = [] { QCoreApplication::processEvents(); };
    TStartupOptions options;
    options.emulate = true;
    options.aspi = aspi;
    session = std::make_unique<TDriveSession>(options, clock, sink, TSessionPorts{&bus, &bus});
    QVERIFY2(session->Ok(), session->Error().c_str());
    atapi = &session->Atapi();
    dialogs.confirm = confirm;
    form = std::make_unique<TForm1>(*atapi, image, clock, dialogs, restarter);
  }

  template <typename T>
  T* Find(const char* name) const {
    return form->findChild<T*>(QString::fromLatin1(name));
  }
  QComboBox* SelDevice() const { return Find<QComboBox>("SelDevice"); }
  QPushButton* Start() const { return Find<QPushButton>("BitBtn2"); }
  QPushButton* Exit() const { return Find<QPushButton>("BitBtn3"); }
  QListWidget* Log() const { return Find<QListWidget>("ListBox1"); }
  QAction* Check() const { return Find<QAction>("CheckAction"); }
  QAction* About() const { return Find<QAction>("AboutAction"); }
  QAction* Support() const { return Find<QAction>("SupportAction"); }
  // A context-menu action by the text the user reads; nullptr when there is none.
  QAction* Action(const QString& text) const {
    for (QAction* a : form->actions()) {
      if (a->text() == text) return a;
    }
    return nullptr;
  }
  QStringList LogLines() const {
    QStringList lines;
    for (int i = 0; i < Log()->count(); ++i) lines << Log()->item(i)->text();
    return lines;
  }
  QStringList Items() const {
    QStringList items;
    for (int i = 0; i < SelDevice()->count(); ++i) items << SelDevice()->itemText(i);
    return items;
  }
  // Clicks "&Start" and waits for the run on the worker thread to end; false when it did
  // not end within a minute.
  bool RunFromTheButton() {
    QSignalSpy finished(form.get(), &TForm1::RunFinished);
    QTest::mouseClick(Start(), Qt::LeftButton);
    return finished.count() > 0 || finished.wait(60000);
  }
  bool ControlsEnabled() const {
    return SelDevice()->isEnabled() && Start()->isEnabled() && Exit()->isEnabled();
  }
  bool ControlsDisabled() const {
    return !SelDevice()->isEnabled() && !Start()->isEnabled() && !Exit()->isEnabled();
  }
  // Shows the window and lets it paint; true when it is still open afterwards.
  bool ShowAndSettle() {
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) return false;
    QTest::qWait(50);
    return form->isVisible();
  }
};

TDriveProfile Profile(const char* name) {
  return *FindProfile(name);
}

std::vector<TDriveProfile> Profiles(std::initializer_list<const char*> names) {
  std::vector<TDriveProfile> out;
  for (const char* n : names) out.push_back(Profile(n));
  return out;
}

// A container with one unscrambled bank whose INQUIRY template names the given identity.
std::vector<uint8_t> ContainerWithIdentity(const std::string& identity28) {
  std::vector<uint8_t> c(kImageHeaderSize + kBankSize, 0);
  c[24] = 0x20;  // no drive check during the extraction
  c[25] = 0x00;  // not scrambled
  c[34] = 1;     // one bank
  c[36] = 0x00;  // of 256 bytes
  c[37] = 0x01;
  uint8_t* t = c.data() + kImageHeaderSize + 0x40;
  t[0] = 0x05;
  t[1] = 0x80;
  t[4] = 0x1F;
  std::copy(identity28.begin(), identity28.end(), t + 8);
  return c;
}

// XDG_STATE_HOME (run logs, backups) in a temporary folder for the life of the object.
class TStateFolder final {
 public:
  TStateFolder() : before_(qgetenv("XDG_STATE_HOME")) {
    qputenv("XDG_STATE_HOME", dir_.path().toUtf8());
  }
  ~TStateFolder() {
    if (before_.isEmpty()) {
      qunsetenv("XDG_STATE_HOME");
    } else {
      qputenv("XDG_STATE_HOME", before_);
    }
  }
  std::string Path(const char* sub) const { return dir_.filePath(sub).toStdString(); }

 private:
  QTemporaryDir dir_;
  QByteArray before_;
};

// Keeps a backup of a virtual drive at 1.05 (the default profile) in BackupDirectory(), by
// a run of the window as a user makes it; its container's path (empty: none was kept).
std::string KeepBackupOfDefaultDrive(TBackupKeeper& keeper) {
  THarness first(Profiles({"default"}));
  first.form->SetBackupStore(&keeper);
  if (!first.RunFromTheButton()) return {};
  const auto kept = ListBackups(BackupDirectory());
  return kept.size() == 1 && kept[0].second.revision == "1.05" ? kept[0].first : std::string();
}

const QString kRestoreText = QString::fromUtf8("Restore from a backup\u2026");

// True when no command at all reached the drive since its history was cleared.
bool NothingSent(THarness& h) {
  return h.bus.Drive(0).History().empty();
}

// Calls f with every event the watched object receives.
class TEventProbe final : public QObject {
 public:
  TEventProbe(QObject* watched, std::function<void(QEvent*)> f) : f_(std::move(f)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    f_(event);
    return false;
  }

 private:
  std::function<void(QEvent*)> f_;
};

}  // namespace

class TForm1Test : public QObject {
  Q_OBJECT

 private slots:
  void windowLayout() {
    THarness h(Profiles({"default"}));
    QVERIFY(h.form);
    QCOMPARE(h.form->size(), QSize(298, 315));
    QCOMPARE(h.form->minimumSize(), h.form->maximumSize());
    QVERIFY(!(h.form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(h.Find<QGroupBox>("GroupBox1")->title(), QString("Select Source : "));
    QCOMPARE(h.Find<QGroupBox>("GroupBox2")->title(), QString("Select File : "));
    QVERIFY(!h.SelDevice()->isEditable());
    QVERIFY(h.Find<QLineEdit>("Edit1")->isReadOnly());
    QCOMPARE(h.Find<QLineEdit>("Edit1")->text(), kImageIdentity);
    QCOMPARE(h.Find<QPushButton>("BitBtn1")->text(), QString("&Open"));
    QVERIFY(h.Find<QPushButton>("BitBtn1")->isHidden());
    QCOMPARE(h.Start()->text(), QString("&Start"));
    QCOMPARE(h.Exit()->text(), QString("&Exit"));
    QCOMPARE(h.Log()->geometry(), QRect(0, 160, 298, 136));
    auto* bar = h.Find<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->parent(), h.Find<QStatusBar>("StatusBar1"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    // No control covers another.
    const QList<QWidget*> top = {
        h.Find<QWidget>("GroupBox1"), h.Find<QWidget>("GroupBox2"), h.Start(), h.Exit(), h.Log(),
        h.Find<QWidget>("StatusBar1")};
    for (int i = 0; i < top.size(); ++i) {
      for (int j = i + 1; j < top.size(); ++j) {
        QVERIFY2(!top[i]->geometry().intersects(top[j]->geometry()),
                 qPrintable(top[i]->objectName() + " overlaps " + top[j]->objectName()));
      }
    }
  }

  void cancelAtConfirmationEndsWithoutList() {
    THarness h(Profiles({"default"}), false, /*confirm=*/false);
    QCOMPARE(h.dialogs.calls.size(), size_t{1});
    const TDialogCall& ask = h.dialogs.calls[0];
    QCOMPARE(ask.caption, std::string("WARNING"));
    QCOMPARE(ask.text,
             std::string("This firmware updater only supports\n\n TAVO    QRD-1040C        "
                         "\n\nDo you want to continue ?"));
    QVERIFY(ask.icon == TDialogIcon::Warning);
    QCOMPARE(h.SelDevice()->count(), 0);
    QCOMPARE(h.Log()->count(), 0);
    QCOMPARE(h.form->windowTitle(), QString("TAVOFlash V1.01A"));
    QCOMPARE(h.form->State().closeRequest, uint8_t{1});
    h.form->show();
    QTRY_VERIFY(!h.form->isVisible());
  }

  void noMatchingDriveShowsErrorAndCloses() {
    THarness h(Profiles({"legacy-unlisted"}));
    QCOMPARE(h.dialogs.Count("ERROR"), 1);
    const TDialogCall& err = h.dialogs.calls.back();
    QCOMPARE(err.text, std::string("Can't find the device to upgrade !!"));
    QVERIFY(err.icon == TDialogIcon::Error);
    QCOMPARE(h.SelDevice()->count(), 0);
    QVERIFY(!h.Start()->isEnabled());
    QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), QString());
    // The remaining start-up steps still run before the window closes.
    QCOMPARE(h.form->windowTitle(), QString("QRD-1040C Firmware Updater"));
    // Why (the same reasons the terminal gives, and how to try the program without such a
    // drive), then the notice lines.
    QCOMPARE(h.LogLines(),
             QStringList({"None of the optical drives found is a TAVO    QRD-1040C:",
                          "  emulated:sr0: vendor TAVO, product QRD-1370C, revision 1.05",
                          "To try tavoflash without such a drive: tavoflash --emulate"}) +
                 kNotice);
    h.form->show();
    QTRY_VERIFY(!h.form->isVisible());
  }

  void elevenMatchingDrivesListTen() {
    // The ASPI-style transport: pass-through discovery sees fewer virtual drives.
    THarness h(std::vector<TDriveProfile>(11, Profile("default")), /*aspi=*/true);
    QVERIFY(h.form);
    QCOMPARE(h.atapi->DriveCount(), 11);
    QCOMPARE(h.Items(), QStringList(10, kDefaultItem));
    for (int i = 0; i < 10; ++i) QCOMPARE(h.form->State().driveMap[i], i);
    QCOMPARE(h.dialogs.Count("ERROR"), 0);
    QCOMPARE(h.SelDevice()->currentIndex(), 0);
    QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), kDefaultItem);
    QVERIFY(h.Start()->isEnabled());
    QCOMPARE(h.form->windowTitle(), QString("QRD-1040C Firmware Updater"));
    QCOMPARE(h.LogLines(), kNotice);
    QVERIFY(h.ShowAndSettle());  // no close request: the window stays
  }

  void drivesPassThroughDoesNotReachAreNamedInTheLog() {
    THarness h(std::vector<TDriveProfile>(6, Profile("default")));
    QVERIFY(h.form);
    QCOMPARE(h.Items(), QStringList(4, kDefaultItem));
    const QStringList log = h.LogLines();
    for (const char* device : {"emulated:sr4", "emulated:sr5"}) {
      QVERIFY2(log.indexOf(QRegularExpression("Not reached: .*  " + QString(device) + " .*")) >= 0,
               qPrintable(log.join('\n')));
    }
    QVERIFY(log.indexOf(QRegularExpression(".*--transport aspi.*")) >= 0);
  }

  void onlyMatchingDrivesListedAndSelectable() {
    // Row 0 is another product, rows 1 and 2 match (row 2 with another family code).
    THarness h(Profiles({"legacy-unlisted", "default", "other-family"}));
    QCOMPARE(h.Items(), QStringList({kDefaultItem, kDefaultItem}));
    QCOMPARE(h.form->State().driveMap[0], 1);
    QCOMPARE(h.form->State().driveMap[1], 2);
    TAtapi& atapi = *h.atapi;
    QCOMPARE(atapi.DriveHandle(), atapi.Drive(1).Handle);

    h.SelDevice()->setCurrentIndex(1);
    emit h.SelDevice()->activated(1);
    QCOMPARE(atapi.DriveHandle(), atapi.Drive(2).Handle);
    QCOMPARE(h.form->State().selectedItem, 1);
  }

  void matchingCoversVendorAndProductNotRevision() {
    TDriveProfile newer = Profile("default");
    newer.revision = "1.08";
    TDriveProfile otherVendor = Profile("default");
    otherVendor.vendor = "OTHERCO ";
    TDriveProfile lowerCase = Profile("default");
    lowerCase.product = "qrd-1040c       ";
    THarness h({otherVendor, Profile("default"), lowerCase, newer});
    QCOMPARE(h.Items(), QStringList({kDefaultItem, "TAVO    QRD-1040C        1.08"}));
    QCOMPARE(h.form->State().driveMap[0], 1);
    QCOMPARE(h.form->State().driveMap[1], 3);
  }

  void captionTakesWholeSixteenCharacterProduct() {
    const std::vector<uint8_t> container = ContainerWithIdentity("ACME    ABCDEFGHIJKLMNOP2.00");
    const TFirmwareImage image(container);
    THarness h(Profiles({"default"}), false, true, image);
    QCOMPARE(h.Find<QLineEdit>("Edit1")->text(), QString("ACME    ABCDEFGHIJKLMNOP2.00"));
    QCOMPARE(h.form->windowTitle(), QString("ABCDEFGHIJKLMNOP Firmware Updater"));
    QCOMPARE(h.dialogs.Count("ERROR"), 1);  // the default drive is another model
  }

  void statusBarDoubleClickShowsVersion() {
    THarness h(Profiles({"default"}));
    QVERIFY(h.ShowAndSettle());
    QCOMPARE(h.form->windowTitle(), QString("QRD-1040C Firmware Updater"));
    QTest::mouseDClick(h.Find<QWidget>("StatusBar1"), Qt::LeftButton);
    QCOMPARE(h.form->windowTitle(), QString("TAVOFlash V1.01A"));
    h.form->setWindowTitle("x");
    QTest::mouseDClick(h.Find<QWidget>("ProgressBar1"), Qt::LeftButton);
    QCOMPARE(h.form->windowTitle(), QString("TAVOFlash V1.01A"));
  }

  void logSelectsLastLineAndActivationClearsIt() {
    THarness h(Profiles({"default"}));
    for (int i = 0; i < 40; ++i) h.form->AddLog("line " + std::to_string(i));
    QCOMPARE(h.Log()->currentRow(), h.Log()->count() - 1);
    QCOMPARE(h.Log()->selectedItems().size(), 1);
    QCOMPARE(h.Log()->selectedItems()[0]->text(), QString("line 39"));
    QVERIFY(h.ShowAndSettle());
    h.form->activateWindow();
    QTRY_VERIFY(h.form->isActiveWindow());
    QTRY_COMPARE(h.Log()->currentRow(), -1);
    QVERIFY(h.Log()->selectedItems().isEmpty());
  }

  void newLogLineIsPaintedWithoutTheEventLoop() {
    // During a blocking step no events are processed: whatever AddLog paints by itself is
    // all the user sees. The new last line must be in view when that paint happens.
    THarness h(Profiles({"default"}));
    QVERIFY(h.ShowAndSettle());
    QListWidget* log = h.Log();
    struct TPaintProbe final : public QObject {
      QListWidget* log;
      bool lastLineInViewAtPaint = false;
      int paints = 0;
      explicit TPaintProbe(QListWidget* l) : log(l) {}
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
          ++paints;
          const QRect row = log->visualItemRect(log->item(log->count() - 1));
          lastLineInViewAtPaint = log->viewport()->rect().contains(row);
        }
        return false;
      }
    } probe(log);
    log->viewport()->installEventFilter(&probe);
    for (int i = 0; i < 30; ++i) {
      h.form->AddLog("line " + std::to_string(i));
      QVERIFY(probe.paints > 0);
      QVERIFY2(probe.lastLineInViewAtPaint, qPrintable(QString("after line %1").arg(i)));
      probe.paints = 0;
    }
    log->viewport()->removeEventFilter(&probe);

    // The progress bar and a control whose state changed are painted at once too.
    struct TPaintCounter final : public QObject {
      int paints = 0;
      bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
      }
    } bar, list;
    h.Find<QProgressBar>("ProgressBar1")->installEventFilter(&bar);
    h.SelDevice()->installEventFilter(&list);
    h.form->SetProgress(42);
    h.form->RepaintProgress();
    QVERIFY(bar.paints > 0);
    h.form->SetControlEnabled(TControl::SelDevice, false);
    h.form->RepaintControl(TControl::SelDevice);
    QVERIFY(list.paints > 0);
    h.Find<QProgressBar>("ProgressBar1")->removeEventFilter(&bar);
    h.SelDevice()->removeEventFilter(&list);
  }

  void textsFitTheirControls() {
    // Every notice line, the window's own lines and the drive's list text are shown whole,
    // whatever the desktop font, with the scroll bar a run's lines bring.
    THarness h(Profiles({"default"}));
    QVERIFY(h.ShowAndSettle());
    h.form->AddLog(TForm1::kCloseRefusedLine);
    h.form->AddLog(TSystemRestarter::kVirtualDrivesLine);
    h.form->AddLog(TForm1::kSignalDeferredLine);
    for (int i = 0; i < 20; ++i) h.form->AddLog("Flashing ..");
    QListWidget* log = h.Log();
    QVERIFY(log->verticalScrollBar()->isVisible());
    const int margin = log->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, log) + 1;
    const QFontMetrics metrics(log->font());
    for (int i = 0; i < 9; ++i) {
      const QString line = log->item(i)->text();
      QVERIFY2(metrics.horizontalAdvance(line) + 2 * margin <= log->viewport()->width(),
               qPrintable(line));
    }
    auto* panel = h.Find<QLabel>("StatusPanel0");
    QCOMPARE(panel->text(), kDefaultItem);
    QVERIFY(QFontMetrics(panel->font()).horizontalAdvance(panel->text()) <=
            panel->contentsRect().width());
  }

  void progressPortKeepsTheBarMeaningful() {
    THarness h(Profiles({"default"}));
    auto* bar = h.Find<QProgressBar>("ProgressBar1");
    h.form->SetProgressRange(0, 0xFC80);
    h.form->SetProgress(0xFC00);
    QCOMPARE(bar->value(), 0xFC00);
    // An empty range must not turn the bar into a busy indicator.
    h.form->SetProgressRange(0, 0);
    QVERIFY(bar->maximum() > bar->minimum());
    QCOMPARE(bar->value(), 0);
  }

  void successfulRunFromTheButton() {
    THarness h(Profiles({"default"}));
    QVERIFY(h.ShowAndSettle());
    bool disabledAtQuestion = false;
    bool askedOnGuiThread = false;
    bool checkDisabledAtQuestion = false;
    bool runOverAtQuestion = false;
    bool lockFreeAtQuestion = false;
    QString statusAtQuestion;
    h.dialogs.onRebootQuestion = [&] {
      checkDisabledAtQuestion = !h.Check()->isEnabled();
      askedOnGuiThread = QThread::currentThread() == qApp->thread();
      disabledAtQuestion = h.ControlsDisabled();
      // Asked only once the run is over: the drive is let go and the outcome is shown.
      runOverAtQuestion = !h.form->RunInProgress();
      TDriveLock other;
      lockFreeAtQuestion = other.Acquire("emulated:sr0") == TDriveLockResult::Taken;
      statusAtQuestion = h.Find<QLabel>("StatusPanel0")->text();
    };
    // Close requests that arrive while the run processes messages: the program's own and
    // the way a window manager's close arrives (a spontaneous close of the native window).
    bool earlyCloseResult = true;
    bool wmCloseResult = true;
    QTimer::singleShot(0, h.form.get(), [&] {
      earlyCloseResult = h.form->close();
      wmCloseResult = h.form->windowHandle()->close();
    });

    QVERIFY(h.RunFromTheButton());

    QVERIFY(askedOnGuiThread);
    QVERIFY(disabledAtQuestion);
    QVERIFY(checkDisabledAtQuestion);
    QVERIFY(runOverAtQuestion);
    QVERIFY(lockFreeAtQuestion);
    QCOMPARE(statusAtQuestion, QString("Verified: now 1.08; restart"));
    QVERIFY(h.Check()->isEnabled());
    QVERIFY(!earlyCloseResult);
    QVERIFY(!wmCloseResult);
    QVERIFY(h.form->isVisible());
    QVERIFY(h.ControlsEnabled());
    const QStringList log = h.LogLines();
    const qsizetype flashing = log.indexOf("Flashing ..");
    const qsizetype complete = log.indexOf("Flash Complete!!");
    const qsizetype verified = log.indexOf("Firmware Verify ok!!");
    QVERIFY2(flashing >= 0 && complete > flashing && verified > complete,
             qPrintable(log.join('\n')));
    QCOMPARE(log.count(TForm1::kCloseRefusedLine), 2);
    QCOMPARE(h.dialogs.Count("Warning"), 1);
    QCOMPARE(h.restarter.requests, 0);  // the user chose Cancel
    // The drive reports its new revision, in the list, the status bar and the outcome.
    QCOMPARE(h.SelDevice()->currentText(), QString("TAVO    QRD-1040C        1.08"));
    QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), QString("Verified: now 1.08; restart"));
    QVERIFY(h.Log()->item(int(verified))->icon().isNull());

    // Once the run has ended, closing works again.
    QVERIFY(h.form->close());
    QVERIFY(!h.form->isVisible());
  }

  // "&Start" decides the drive on the window's thread: the list, both buttons and the check
  // are locked before the worker starts, and a selection that arrives meanwhile changes
  // nothing; the drive the guard locked is the drive the run programs.
  void theDriveLockedAtStartIsTheDriveFlashed() {
    THarness h(Profiles({"default", "default"}));
    QCOMPARE(h.SelDevice()->count(), 2);
    QSignalSpy finished(h.form.get(), &TForm1::RunFinished);
    QTest::mouseClick(h.Start(), Qt::LeftButton);
    const bool lockedAtOnce = h.ControlsDisabled() && !h.Check()->isEnabled();
    h.form->SelDeviceChange(1);  // the user picks the other drive while the guard is taken
    QVERIFY(finished.count() > 0 || finished.wait(60000));
    QVERIFY(lockedAtOnce);
    QCOMPARE(h.form->State().selectedItem, 0);
    QVERIFY(!h.bus.Drive(0).History().empty());
    int downloads[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      for (const TCommandRecord& c : h.bus.Drive(k).History()) {
        downloads[k] += c.kind == TCommandKind::FlashDownload ? 1 : 0;
      }
    }
    QVERIFY(downloads[0] > 0);
    QCOMPARE(downloads[1], 0);
  }

  // The list stays locked until the outcome is shown, so the revision read after the run
  // goes to the drive that was flashed, whatever could be selected by then.
  void theNewRevisionGoesToTheFlashedDrive() {
    THarness h(Profiles({"default", "default"}));
    bool unlockedDuringRun = false;
    TEventProbe probe(h.SelDevice(), [&](QEvent* e) {
      if (e->type() == QEvent::EnabledChange && h.SelDevice()->isEnabled() &&
          h.form->RunInProgress()) {
        unlockedDuringRun = true;
        h.form->SelDeviceChange(1);  // the user picks the other drive at once
      }
    });
    QVERIFY(h.RunFromTheButton());
    QVERIFY(!unlockedDuringRun);
    QCOMPARE(h.Items(), QStringList({"TAVO    QRD-1040C        1.08", kDefaultItem}));
    QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), QString("Verified: now 1.08; restart"));
  }

  // The check leaves a drive that another program holds alone: not one command after the
  // search for drives, and the log says why.
  void checkLeavesABusyDriveAlone() {
    THarness h(Profiles({"default", "default"}));
    for (int k = 0; k < 2; ++k) h.bus.Drive(k).ClearHistory();
    TDriveLock other;
    QCOMPARE(other.Acquire("emulated:sr1"), TDriveLockResult::Taken);
    QSignalSpy finished(h.form.get(), &TForm1::CheckFinished);
    h.Check()->trigger();
    QVERIFY(finished.count() > 0 || finished.wait(60000));
    QVERIFY(h.bus.Drive(1).History().empty());
    QVERIFY(!h.bus.Drive(0).History().empty());
    QVERIFY2(h.LogLines().last().endsWith("emulated:sr1 is being flashed by another program"),
             qPrintable(h.LogLines().last()));
  }

  // A run the drive lock refuses sends nothing; its outcome is its own, not the earlier
  // verified run's, and the window names it as the terminal does: refused, in the status
  // bar, the run log and so --history.
  void refusedRunAfterAVerifiedOneIsLoggedRefused() {
    QTemporaryDir state;
    const QByteArray stateBefore = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    {
      THarness h(Profiles({"default"}));
      TRunRecord record("tavoflash", {}, "");
      record.Log().SetJournal(false);
      h.form->SetRunRecord(&record);
      QVERIFY(h.RunFromTheButton());
      QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), QString("Verified: now 1.08; restart"));
      TDriveLock other;
      QCOMPARE(other.Acquire("emulated:sr0"), TDriveLockResult::Taken);

      QVERIFY(h.RunFromTheButton());

      QVERIFY(h.LogLines().contains("Err:emulated:sr0 is being flashed by another program."));
      QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), QString("Refused: nothing sent"));
      QVERIFY(h.LogLines().last().contains("unchanged"));
      h.form->SetRunRecord(nullptr);
    }
    qputenv("XDG_STATE_HOME", stateBefore);
    const std::vector<TPastRun> runs = ReadRunHistory(state.filePath("tavoflash").toStdString());
    QCOMPARE(runs.size(), size_t{2});
    QCOMPARE(runs[0].result, std::string("refused"));
    QCOMPARE(runs[1].result, std::string("verified"));
  }

  void restartAskedForAfterOk() {
    THarness h(Profiles({"default"}));
    h.dialogs.reboot = true;
    QVERIFY(h.RunFromTheButton());
    QCOMPARE(h.restarter.requests, 1);
    QVERIFY(h.ControlsEnabled());
  }

  void failedRunLeavesControlsEnabled_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("flashComplete");
    QTest::addColumn<QString>("outcome");  // how the outcome paragraph begins
    QTest::addColumn<QString>("status");
    // The patch region was taken before the download was refused: one instruction, no
    // restart.
    QTest::newRow("download refused")
        << "unsupported" << false << "The drive was changed: its patch region"
        << "Failed: drive changed, do not power off";
    QTest::newRow("never ready") << "never-ready" << false << "The firmware was sent and committed"
                                 << "Failed: do not power off, run again";
    QTest::newRow("verify mismatch") << "bad-verify" << true << "The firmware was programmed"
                                     << "Failed: do not power off, run again";
  }

  void failedRunLeavesControlsEnabled() {
    QFETCH(QString, profile);
    QFETCH(bool, flashComplete);
    QFETCH(QString, outcome);
    QFETCH(QString, status);
    THarness h({Profile(qPrintable(profile))});
    bool asked = false;
    h.dialogs.onRebootQuestion = [&] { asked = true; };
    QVERIFY(h.RunFromTheButton());
    QVERIFY(h.ControlsEnabled());
    QVERIFY(!asked);
    QCOMPARE(h.dialogs.Count("Warning"), 0);
    const QStringList log = h.LogLines();
    QCOMPARE(log.contains("Flash Complete!!"), flashComplete);
    QVERIFY(!log.contains("Firmware Verify ok!!"));
    // The procedure's last line is a failure, drawn with an icon; the outcome follows and
    // stays on the status bar.
    const qsizetype at =
        log.indexOf(QRegularExpression(QRegularExpression::escape(outcome) + ".*"));
    QVERIFY2(at > 0 && log[at - 1].startsWith("Err:"), qPrintable(log.join('\n')));
    QVERIFY(!h.Log()->item(int(at - 1))->icon().isNull());
    QVERIFY(!h.Log()->item(int(at))->icon().isNull());
    QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), status);
    QVERIFY2(!log.join(QChar(0x20)).contains("Restart the computer"), qPrintable(log.join('\n')));
  }

  // Before "&Start" the window says which drive a run writes and the revision change; a
  // failure line carries its plain explanation as its tooltip and in the status bar.
  void targetBeforeStartAndExplainedFailures() {
    THarness h(Profiles({"default", "commit-unit-attention", "newer"}));
    const QString first =
        "&Start flashes drive [0] emulated:sr0 (TAVO QRD-1040C) from 1.05 to 1.08.";
    QCOMPARE(h.Start()->toolTip(), first);
    QVERIFY(h.Find<QLabel>("StatusPanel0")->toolTip().endsWith(first));
    h.form->SelDeviceChange(2);
    const QString older =
        "&Start flashes drive [2] emulated:sr2 (TAVO QRD-1040C) from 1.10 to "
        "1.08 (an older revision: a downgrade).";
    QCOMPARE(h.Start()->toolTip(), older);
    QVERIFY(h.Find<QLabel>("StatusPanel0")->toolTip().endsWith(older));
    h.form->SelDeviceChange(1);
    QCOMPARE(h.Start()->toolTip(),
             QString("&Start flashes drive [1] emulated:sr1 (TAVO QRD-1040C) from 1.05 to 1.08."));

    QVERIFY(h.RunFromTheButton());
    const QStringList log = h.LogLines();
    const qsizetype fail = log.indexOf("Err:Flash Fail.");
    QVERIFY2(fail > 0, qPrintable(log.join('\n')));
    const QString explanation = QString::fromStdString(ExplainLine("Err:Flash Fail.", "TAVOFlash"));
    QVERIFY(!explanation.isEmpty());
    QCOMPARE(h.Log()->item(int(fail))->toolTip(), "Err:Flash Fail.\n\n" + explanation);
    // The status bar keeps the outcome; its tip says what the last failure line meant.
    QVERIFY(h.Find<QLabel>("StatusPanel0")
                ->toolTip()
                .endsWith(QString::fromStdString(ExplainLine("Err:Flash Fail!!", "TAVOFlash"))));
  }

  // The context menu's check: the terminal's verdict lines in the log, reading commands
  // only, no run meanwhile, and the window's selected drive selected again afterwards.
  void checkFromTheContextMenuWritesNothing() {
    THarness h(Profiles({"default", "other-family"}));
    QVERIFY(h.form->actions().contains(h.Check()));
    QCOMPARE(h.form->contextMenuPolicy(), Qt::ActionsContextMenu);
    for (int k = 0; k < 2; ++k) h.bus.Drive(k).ClearHistory();
    QSignalSpy finished(h.form.get(), &TForm1::CheckFinished);
    QSignalSpy runFinished(h.form.get(), &TForm1::RunFinished);

    h.Check()->trigger();
    QVERIFY(h.form->CheckInProgress());
    QVERIFY(!h.Start()->isEnabled());
    QVERIFY(!h.Check()->isEnabled());
    h.form->BitBtn2Click();  // refused while the check runs
    QVERIFY(finished.count() > 0 || finished.wait(60000));

    QVERIFY(!h.form->RunInProgress());
    QCOMPARE(runFinished.count(), 0);
    QVERIFY(h.ControlsEnabled());
    QVERIFY(h.Check()->isEnabled());
    const QStringList log = h.LogLines();
    QCOMPARE(log.size(), kNotice.size() + 2);
    QCOMPARE(log[kNotice.size()],
             "check: [0] " + kDefaultItem + ": a run would get past the checks");
    QVERIFY2(log.last().startsWith("check: [1] " + kDefaultItem + ": a run would stop with: Err"),
             qPrintable(log.last()));
    QCOMPARE(h.atapi->DriveHandle(), h.atapi->Drive(0).Handle);
    for (int k = 0; k < 2; ++k) {
      const std::vector<TCommandRecord>& history = h.bus.Drive(k).History();
      QVERIFY(!history.empty());
      for (const TCommandRecord& c : history) {
        const bool writes =
            c.kind == TCommandKind::FlashDownload || c.kind == TCommandKind::FlashCommit ||
            c.kind == TCommandKind::FlashRetry || c.kind == TCommandKind::WritePatch ||
            c.kind == TCommandKind::StartStopUnit || c.kind == TCommandKind::StopPlayScan;
        QVERIFY2(!writes,
                 qPrintable(
                     QString("drive %1 got command kind %2").arg(k).arg(static_cast<int>(c.kind))));
      }
    }
  }

  // "About TAVOFlash" in the context menu: one box through the window's dialogs with the
  // version, the identity and checksum of the image the window was given (not the built-in
  // one), and the licence.
  void aboutBoxNamesVersionImageAndLicence() {
    const std::vector<uint8_t> container = ContainerWithIdentity("ACME    ABCDEFGHIJKLMNOP2.00");
    const TFirmwareImage image(container);
    THarness h(Profiles({"default"}), false, true, image);
    QVERIFY(h.form->actions().contains(h.About()));
    QCOMPARE(h.form->contextMenuPolicy(), Qt::ActionsContextMenu);
    const size_t before = h.dialogs.calls.size();

    h.About()->trigger();
    QCOMPARE(h.dialogs.calls.size(), before + 1);
    const TDialogCall& box = h.dialogs.calls.back();
    QCOMPARE(box.caption, std::string("About TAVOFlash"));
    const QString text = QString::fromStdString(box.text);
    QVERIFY2(text.startsWith(QString("TAVOFlash ") + ProgramVersion() + "\n"), qPrintable(text));
    QVERIFY2(text.contains("Firmware image: ACME    ABCDEFGHIJKLMNOP2.00\n"), qPrintable(text));
    const QString checksum =
        QString::asprintf("checksum %04Xh, 1 bank", unsigned{image.Header().Checksum});
    QVERIFY2(text.contains(checksum), qPrintable(text));
    QVERIFY2(text.contains("GPL-2.0-or-later"), qPrintable(text));
  }

  // "Save a report for support…": the newest run's report to the chosen file, and a box
  // that says where it went, or why it was not saved (the chosen file is never replaced).
  void supportReportGoesToTheChosenFileAndNeverReplacesOne() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", dir.path().toUtf8());
    QDir(dir.path()).mkpath("tavoflash");
    QFile log(dir.path() + "/tavoflash/run-20260101-000000-000.log");
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write(
        "TAVOFlash run, started 2026-01-01 00:00:00.000\ndevice: emulated:sr0\n\n"
        "result: nothing_written\n");
    log.close();
    THarness h(Profiles({"default"}));
    QVERIFY(h.form->actions().contains(h.Support()));
    QCOMPARE(h.Support()->text(), QString::fromUtf8("Save a report for support\u2026"));
    h.dialogs.saveAs = (dir.path() + "/r.tar.gz").toStdString();

    h.Support()->trigger();
    QVERIFY(QFileInfo(dir.path() + "/r.tar.gz").size() > 0);
    QVERIFY2(h.dialogs.calls.back().text.find("saved to " + h.dialogs.saveAs) != std::string::npos,
             h.dialogs.calls.back().text.c_str());
    const qint64 size = QFileInfo(dir.path() + "/r.tar.gz").size();
    h.Support()->trigger();
    QCOMPARE(h.dialogs.calls.back().icon, TDialogIcon::Error);
    QVERIFY2(h.dialogs.calls.back().text.find("it exists already") != std::string::npos,
             h.dialogs.calls.back().text.c_str());
    QCOMPARE(QFileInfo(dir.path() + "/r.tar.gz").size(), size);
    h.dialogs.saveAs.clear();  // cancelled: nothing happens
    const size_t before = h.dialogs.calls.size();
    h.Support()->trigger();
    QCOMPARE(h.dialogs.calls.size(), before + 1);
    if (savedState.isEmpty()) {
      qunsetenv("XDG_STATE_HOME");
    } else {
      qputenv("XDG_STATE_HOME", savedState);
    }
  }

  // "Restore from a backup…" in the context menu: the backup a run kept of a drive at 1.05,
  // chosen from the list and flashed back to a drive that reports 1.08 after the terminal's
  // question, through the run "&Start" makes (a backup of its own first, the verification,
  // the outcome and the run log); "&Start" flashes the window's own image again afterwards.
  void restoreFromTheContextMenuVerifies() {
    TStateFolder state;
    TBackupKeeper keeper(BackupDirectory(), "");
    const std::string file = KeepBackupOfDefaultDrive(keeper);
    QVERIFY(!file.empty());
    THarness h(Profiles({"current"}));
    h.form->SetBackupStore(&keeper);
    TRunRecord record("tavoflash", {}, "");
    record.Log().SetJournal(false);
    h.form->SetRunRecord(&record);
    QAction* restore = h.Action(kRestoreText);
    QVERIFY(restore != nullptr);
    QVERIFY(restore->isEnabled());
    QSignalSpy finished(h.form.get(), &TForm1::RunFinished);

    QLineEdit* shown = h.Find<QLineEdit>("Edit1");
    const QString ownIdentity = shown->text();
    restore->trigger();
    const bool lockedAtOnce =
        h.ControlsDisabled() && !restore->isEnabled() && !h.Check()->isEnabled();
    // "Select File" names what the run flashes: the backup, at 1.05.
    const QString shownDuringTheRun = shown->text();
    QVERIFY(finished.count() > 0 || finished.wait(60000));
    QVERIFY2(shownDuringTheRun.endsWith("1.05"), qPrintable(shownDuringTheRun));
    QCOMPARE(shown->text(), ownIdentity);

    QVERIFY(lockedAtOnce);
    QCOMPARE(h.dialogs.offered.size(), size_t{1});
    QVERIFY2(h.dialogs.offered[0].find("TAVO QRD-1040C 1.05, ") == 0, h.dialogs.offered[0].c_str());
    QCOMPARE(h.dialogs.Count("Restore from a backup"), 2);  // the list, then the question
    const TDialogCall& question = h.dialogs.calls[h.dialogs.calls.size() - 2];
    QCOMPARE(question.caption, std::string("Restore from a backup"));
    QVERIFY2(question.text.find("Restore drive [0] emulated:sr0 (TAVO QRD-1040C) from 1.08 to 1.05 "
                                "(an older revision: a downgrade), the backup of ") == 0,
             question.text.c_str());
    const QStringList log = h.LogLines();
    QVERIFY2(log.contains("Firmware Verify ok!!"), qPrintable(log.join('\n')));
    QVERIFY(log.indexOf(QRegularExpression("Backup saved: .*")) >= 0);
    QCOMPARE(ReadDriveRevision(*h.atapi), std::string("1.05"));
    QCOMPARE(h.SelDevice()->currentText(), kDefaultItem);
    QCOMPARE(h.Find<QLabel>("StatusPanel0")->text(), QString("Verified: now 1.05; restart"));
    QVERIFY2(log.join(' ').contains("now reports revision 1.05"), qPrintable(log.join('\n')));
    const std::vector<TPastRun> runs = ReadRunHistory(state.Path("tavoflash"));
    QCOMPARE(runs.size(), size_t{1});
    QCOMPARE(runs[0].result, std::string("verified"));
    QVERIFY(h.ControlsEnabled());
    QVERIFY(restore->isEnabled());

    // The restore image was for that run only.
    QCOMPARE(h.Start()->toolTip(),
             QString("&Start flashes drive [0] emulated:sr0 (TAVO QRD-1040C) from 1.05 to 1.08."));
    h.form->SetRunRecord(nullptr);
    QVERIFY(h.RunFromTheButton());
    QCOMPARE(ReadDriveRevision(*h.atapi), std::string("1.08"));
  }

  // Before anything is sent: no backup, an answer No, and a backup file changed after it
  // was kept each leave the drive without a single command, and "&Start" keeps flashing the
  // window's own image. The question after a run in the same window names the revision the
  // drive reports since that run.
  void restoreRefusalsSendNothing() {
    TStateFolder state;
    TBackupKeeper keeper(BackupDirectory(), "");
    THarness h(Profiles({"default"}));
    h.form->SetBackupStore(&keeper);
    QAction* restore = h.Action(kRestoreText);
    QVERIFY(restore != nullptr);
    h.bus.Drive(0).ClearHistory();
    restore->trigger();
    QVERIFY2(h.dialogs.calls.back().text.find("No backups in " + BackupDirectory() + ".") == 0,
             h.dialogs.calls.back().text.c_str());
    QVERIFY(NothingSent(h));

    QVERIFY(h.RunFromTheButton());  // 1.05 to 1.08, with a backup of 1.05
    const auto kept = ListBackups(BackupDirectory());
    QCOMPARE(kept.size(), size_t{1});
    // "&Start" flashes the window's own image, its identity in the state.
    const auto ownImage = [&h] {
      return &h.form->Engine().Image() == &EmbeddedImage() &&
             QString::fromStdString(h.form->State().edit1) == kImageIdentity;
    };
    h.bus.Drive(0).ClearHistory();
    h.dialogs.yes = false;
    restore->trigger();
    const std::string question = h.dialogs.calls.back().text;
    QVERIFY2(question.find("Restore drive [0] emulated:sr0 (TAVO QRD-1040C) from 1.08 to 1.05 (an "
                           "older revision: a downgrade)") == 0,
             question.c_str());
    QVERIFY(!h.form->RunInProgress());
    QVERIFY(NothingSent(h));
    QVERIFY(ownImage());

    QFile changed(QString::fromStdString(kept[0].first));
    QVERIFY(changed.open(QIODevice::ReadWrite));
    changed.seek(200);
    changed.write("\x5a", 1);
    changed.close();
    h.dialogs.yes = true;
    restore->trigger();
    QCOMPARE(h.dialogs.calls.back().icon, TDialogIcon::Error);
    QVERIFY2(h.dialogs.calls.back().text.find("is not what its manifest says") != std::string::npos,
             h.dialogs.calls.back().text.c_str());
    QVERIFY(!h.form->RunInProgress());
    QVERIFY(NothingSent(h));
    QVERIFY(ownImage());
  }
};

int RunForm1Tests(int argc, char** argv) {
  TForm1Test test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_form1.moc"
