// The main window as the download controller's view: boxes, caption, label, timer and the two
// memos, which receive new lines in batches.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/Unit1.h"
#include "ui/following_memo.h"
#include "ui/message_box.h"

namespace {

constexpr int kMemoFlushDelayMs = 100;

// A line as a memo shows it: a line break inside it (CR LF, LF or CR) starts a new memo line.
QString DisplayText(const std::string& line) {
  QString text = QString::fromStdString(line);
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  return text;
}

QString DisplayText(const std::vector<std::string>& lines) {
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) shown << DisplayText(line);
  return shown.join('\n');
}

}  // namespace

void TForm1::ShowMessage(const std::string& text) { qm::ShowMessage(text); }

void TForm1::ShowError(const std::string& text) { qm::ShowErrorBox(text); }

void TForm1::SetButtonCaption(const std::string& caption) {
  BitBtn1->setText(QString::fromStdString(caption));
}

void TForm1::SetTotalLabel(const std::string& text) {
  LabelTotalxy->setText(QString::fromStdString(text));
}

void TForm1::SetTimerEnabled(bool enabled) {
  if (enabled) {
    Timer1->start();
  } else {
    Timer1->stop();
  }
}

void TForm1::LogReplaced(const std::vector<std::string>& lines) {
  pendingLog_.clear();
  qm::ReplaceShowingEnd(Memo1, DisplayText(lines));
}

void TForm1::LogAppended(const std::string& line) {
  pendingLog_ << DisplayText(line);
  ScheduleMemoFlush();
}

void TForm1::FailedReplaced(const std::vector<std::string>& lines) {
  pendingFailed_.clear();
  qm::ReplaceShowingEnd(Memo2, DisplayText(lines));
}

void TForm1::FailedAppended(const std::string& line) {
  pendingFailed_ << DisplayText(line);
  ScheduleMemoFlush();
}

void TForm1::ScheduleMemoFlush() {
  if (flushScheduled_) return;
  flushScheduled_ = true;
  QTimer::singleShot(kMemoFlushDelayMs, this, [this] { FlushMemos(); });
}

void TForm1::FlushMemos() {
  flushScheduled_ = false;
  if (!pendingLog_.isEmpty()) qm::AppendFollowing(Memo1, pendingLog_.join('\n'));
  if (!pendingFailed_.isEmpty()) qm::AppendFollowing(Memo2, pendingFailed_.join('\n'));
  pendingLog_.clear();
  pendingFailed_.clear();
}
