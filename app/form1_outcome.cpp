// TForm1's additions around the procedure: the phase in the status bar, failure lines that
// stand out, and the outcome of a run in plain words.
#include <QApplication>
#include <QBrush>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QThread>

#include "app/form1.h"
#include "app/log_marks.h"
#include "session/run_outcome.h"

namespace tavo {

namespace {

// Characters of an outcome line in the log: the narrow list shows about this many.
constexpr size_t kOutcomeLineWidth = 42;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

bool IsFailureLine(const std::string& text) {
  return StartsWith(text, "Err") || StartsWith(text, "Status:") || StartsWith(text, "Time Out") ||
         text.find("isn't support") != std::string::npos || StartsWith(text, "Can't find");
}

void MarkIfFailure(QListWidgetItem* item, const std::string& text, bool failure) {
  if (item == nullptr || (!failure && !IsFailureLine(text))) {
    return;
  }
  // At the height of a text line, so that the failure takes no more room than a line.
  if (QListWidget* list = item->listWidget(); list != nullptr) {
    const int side = list->fontMetrics().height();
    list->setIconSize(QSize(side, side));
  }
  item->setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical));
  item->setForeground(QBrush(QColor(0xB0, 0x00, 0x00)));
}

std::vector<std::string> WrapWords(const std::string& paragraph, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  while (at < paragraph.size()) {
    size_t end = paragraph.find(' ', at);
    if (end == std::string::npos) {
      end = paragraph.size();
    }
    const std::string word = paragraph.substr(at, end - at);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  if (!line.empty()) {
    lines.push_back(line);
  }
  return lines;
}

void TForm1::SetPhase(const TPhase& phase) {
  const QString text = QString::fromStdString(PhaseText(phase));
  // From the worker the panel is updated on the GUI thread, in order with the log lines.
  const auto show = [this, text] {
    StatusPanel0->setText(text);
    StatusPanel0->setToolTip(text);
  };
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
    return;
  }
  show();
  StatusPanel0->repaint();
}

void TForm1::ShowExplanation(const std::string& explanation) {
  lastExplanation_ = explanation;
  const QString text = QString::fromStdString(explanation);
  StatusPanel0->setText(text);
  StatusPanel0->setToolTip(text);
}

void TForm1::ShowOutcome() {
  TRunFacts& facts = runFacts_;
  facts.imageRevision = ImageRevision(state_.edit1);
  // The new revision goes to the item the run was started on, whatever is selected now.
  if (facts.outcome == TOutcomeClass::Verified && !facts.newRevision.empty() && runItem_ >= 0 &&
      runItem_ < static_cast<int>(state_.items.size())) {
    ReplaceItemRevision(state_.items[static_cast<size_t>(runItem_)], facts.newRevision);
    if (runItem_ < SelDevice->count()) {
      SelDevice->setItemText(
          runItem_, QString::fromLatin1(state_.items[static_cast<size_t>(runItem_)].c_str()));
    }
  }
  const std::string text = backupRefused_
                               ? std::string(
                                     "Refused: nothing was sent that writes, because the drive's "
                                     "firmware could not be backed up first (the lines above say "
                                     "why). The drive is unchanged.")
                               : OutcomeText(facts);
  // The outcome is the window's own text, not the procedure's: it goes to the list only,
  // the run log receives it once as the outcome.
  for (const std::string& line : WrapWords(text, kOutcomeLineWidth)) {
    ListBox1->addItem(QString::fromStdString(line));
    QListWidgetItem* item = ListBox1->item(ListBox1->count() - 1);
    item->setToolTip(QString::fromStdString(text));
    MarkIfFailure(item, line, facts.outcome != TOutcomeClass::Verified);
  }
  ListBox1->setCurrentRow(ListBox1->count() - 1);
  ListBox1->scrollToBottom();
  StatusPanel0->setText(
      QString::fromStdString(backupRefused_ ? "Refused: nothing sent" : OutcomeSummary(facts)));
  // The status bar's tip: the outcome, and what the failure line that ended the run means.
  StatusPanel0->setToolTip(
      QString::fromStdString(lastExplanation_.empty() ? text : text + "\n\n" + lastExplanation_));
  lastExplanation_.clear();
  if (record_ != nullptr && backupRefused_) {
    record_->EndRefused(text);
  } else if (record_ != nullptr) {
    record_->End(facts, text);
  }
  if (runEnded_) {
    runEnded_(facts.outcome == TOutcomeClass::Verified);
  }
}

}  // namespace tavo
