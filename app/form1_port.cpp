// The window's side of the flash procedure's user port: the run calls these from its
// worker thread, and each one reaches the controls in order on the window's thread (a
// question waits there for the user's answer).
#include <QComboBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include "app/form1.h"
#include "app/log_marks.h"
#include "app/raw_text.h"
#include "session/line_explanations.h"

namespace tavo {

bool TForm1::OnGuiThread() const {
  return QThread::currentThread() == thread();
}

void TForm1::AddLog(const std::string& text) {
  if (!OnGuiThread()) {
    // The event loop runs during a run: the line is painted with the next paint, together
    // with whatever else arrived, rather than on its own.
    Post([this, text] {
      AddLogNow(text);
      ListBox1->viewport()->update();
    });
    return;
  }
  AddLogNow(text);
  // Painted at once, after the scroll, so that the new line is on screen even while a
  // blocking step keeps the event loop from running. The rows live in the viewport: a
  // repaint of the list widget itself does not reach them.
  ListBox1->viewport()->repaint();
}

void TForm1::AddLogNow(const std::string& text) {
  ListBox1->addItem(RawText(text));
  QListWidgetItem* item = ListBox1->item(ListBox1->count() - 1);
  MarkIfFailure(item, text);
  // The whole line stays readable where the list cuts it; a failure line also says what
  // it means, there and in the status bar.
  const std::string why = ExplainLine(text, "TAVOFlash");
  item->setToolTip(why.empty() ? RawText(text)
                               : RawText(text) + "\n\n" + QString::fromStdString(why));
  if (!why.empty()) ShowExplanation(why);
  if (record_ != nullptr) {
    record_->Line(text);
  }
  ListBox1->setCurrentRow(ListBox1->count() - 1);
  ListBox1->scrollToBottom();
}

void TForm1::SetProgress(int value) {
  if (OnGuiThread()) {
    SetProgressNow(value);
    return;
  }
  std::lock_guard<std::mutex> lock(progressMutex_);
  if (progressSlot_ && !progressSlot_->delivered) {
    progressSlot_->value = value;  // the delivery on its way takes this value instead
    return;
  }
  progressSlot_ = std::make_shared<TProgressSlot>(TProgressSlot{value, false});
  Post([this, slot = progressSlot_] {
    int latest;
    {
      std::lock_guard<std::mutex> guard(progressMutex_);
      slot->delivered = true;
      latest = slot->value;
    }
    SetProgressNow(latest);
  });
}

void TForm1::SetProgressNow(int value) {
  // The bar ignores values outside its range; a position past either end shows as that end.
  ProgressBar1->setValue(std::clamp(value, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TForm1::SetProgressRange(int minimum, int maximum) {
  if (!OnGuiThread()) {
    {
      std::lock_guard<std::mutex> lock(progressMutex_);
      progressSlot_.reset();  // later values go after the range change
    }
    Post([this, minimum, maximum] { SetProgressRangeNow(minimum, maximum); });
    return;
  }
  SetProgressRangeNow(minimum, maximum);
}

void TForm1::SetProgressRangeNow(int minimum, int maximum) {
  // An empty range (a bank of length 0) would turn the bar into a busy indicator; it is
  // shown as an empty bar instead.
  if (maximum <= minimum) {
    ProgressBar1->setRange(minimum, minimum + 1);
    ProgressBar1->setValue(minimum);
    return;
  }
  ProgressBar1->setRange(minimum, maximum);
}

void TForm1::RepaintProgress() {
  // From the worker there is nothing to do: the GUI thread's event loop paints the bar.
  if (OnGuiThread()) ProgressBar1->repaint();
}

void TForm1::ProcessMessages() {
  // Only the GUI thread has window messages; the worker leaves them to its event loop.
  if (OnGuiThread()) QCoreApplication::processEvents();
}

QWidget* TForm1::ControlWidget(TControl control) const {
  switch (control) {
    case TControl::SelDevice:
      return SelDevice;
    case TControl::BitBtn2:
      return BitBtn2;
    case TControl::BitBtn3:
      return BitBtn3;
  }
  return nullptr;
}

void TForm1::SetControlEnabled(TControl control, bool enabled) {
  if (!OnGuiThread()) {
    Post([this, control, enabled] { SetControlEnabled(control, enabled); });
    return;
  }
  // During a run the window keeps the controls locked from "&Start" until the run has
  // ended, whatever the procedure asks for in between.
  if (runInProgress_) return;
  if (QWidget* w = ControlWidget(control)) {
    w->setEnabled(enabled);
  }
}

void TForm1::RepaintControl(TControl control) {
  if (!OnGuiThread()) {
    // Painted with the event loop's next paint.
    Post([this, control] {
      if (QWidget* w = ControlWidget(control)) w->update();
    });
    return;
  }
  if (QWidget* w = ControlWidget(control)) {
    w->repaint();
  }
}

bool TForm1::AskReboot() {
  bool ok = false;
  Await([this, &ok] {
    ok = dialogs_.AskOkCancel("Warning", "Reboot this computer right now ?", TDialogIcon::Warning);
  });
  return ok;
}

void TForm1::RequestReboot() {
  Await([this] { restarter_.RequestReboot(); });
}

}  // namespace tavo
