// Scrolling of the log memos: follow the newest line unless the user scrolled up.
#include "ui/following_memo.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QString>
#include <QTimer>

namespace qm {

namespace {

bool ShowsLastLine(const QPlainTextEdit* memo) {
  const QScrollBar* bar = memo->verticalScrollBar();
  return bar->value() >= bar->maximum();
}

void ScrollToLastLine(QPlainTextEdit* memo) {
  memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

// The scroll bars' ranges follow the text only once it has been laid out, which may happen
// after this call returns; the scroll is repeated once the event loop has done that.
void ScrollToLastLineNowAndAfterLayout(QPlainTextEdit* memo, int sideways) {
  ScrollToLastLine(memo);
  memo->horizontalScrollBar()->setValue(sideways);
  QTimer::singleShot(0, memo, [guard = QPointer<QPlainTextEdit>(memo), sideways] {
    if (!guard) return;
    ScrollToLastLine(guard);
    guard->horizontalScrollBar()->setValue(sideways);
  });
}

}  // namespace

void AppendFollowing(QPlainTextEdit* memo, const QString& lines) {
  const bool follow = ShowsLastLine(memo);
  const int sideways = memo->horizontalScrollBar()->value();
  const int vertical = memo->verticalScrollBar()->value();
  memo->appendPlainText(lines);
  if (follow) {
    ScrollToLastLineNowAndAfterLayout(memo, sideways);
  } else {
    memo->verticalScrollBar()->setValue(vertical);
    memo->horizontalScrollBar()->setValue(sideways);
  }
}

void ReplaceShowingEnd(QPlainTextEdit* memo, const QString& text) {
  memo->setPlainText(text);
  ScrollToLastLineNowAndAfterLayout(memo, 0);
}

}  // namespace qm
