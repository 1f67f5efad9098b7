// The log memos follow their newest line, leave a reader who scrolled up in place, and are never
// left scrolled sideways by a new text.
#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <gtest/gtest.h>

#include "ui/following_memo.h"

namespace {

QString Lines(int from, int count) {
  QStringList lines;
  for (int i = from; i < from + count; ++i) {
    lines << QString("Line %1 %2 end").arg(i).arg(QString(300, QChar('x')));
  }
  return lines.join('\n');
}

TEST(FollowingMemoTest, FollowsTheNewestLineUnlessTheReaderScrolledUp) {
  QPlainTextEdit memo;
  memo.setLineWrapMode(QPlainTextEdit::NoWrap);
  memo.resize(300, 200);
  memo.show();
  QScrollBar* vertical = memo.verticalScrollBar();
  QScrollBar* sideways = memo.horizontalScrollBar();

  memo.horizontalScrollBar()->setValue(50);
  qm::ReplaceShowingEnd(&memo, Lines(0, 40));
  QApplication::processEvents();
  ASSERT_GT(vertical->maximum(), 0);
  EXPECT_EQ(vertical->value(), vertical->maximum());
  EXPECT_EQ(sideways->value(), 0);

  qm::AppendFollowing(&memo, Lines(40, 30));
  QApplication::processEvents();
  EXPECT_EQ(vertical->value(), vertical->maximum());
  EXPECT_EQ(sideways->value(), 0);

  vertical->setValue(5);  // the reader scrolls up
  qm::AppendFollowing(&memo, Lines(70, 30));
  QApplication::processEvents();
  EXPECT_EQ(vertical->value(), 5);

  vertical->setValue(vertical->maximum());  // and back to the end
  qm::AppendFollowing(&memo, Lines(100, 1));
  QApplication::processEvents();
  EXPECT_EQ(vertical->value(), vertical->maximum());
  EXPECT_TRUE(memo.toPlainText().endsWith("Line 100 " + QString(300, QChar('x')) + " end"));
}

}  // namespace
