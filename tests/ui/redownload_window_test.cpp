// The re-download window against the local server: the log it shows, its file dialog and its
// error boxes.
#include <QApplication>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unitftl.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;

class RedownloadWindowTest : public ::testing::Test {
 protected:
  RedownloadWindowTest() {
    window.SetListFileChooser([this](QWidget*) {
      ++dialogsOpened;
      return chosen;
    });
  }

  std::string WriteList(const std::string& content) {
    const std::string path = dir.File("task_failed.ftl");
    qm::WriteFileAtomic(path, content);
    return path;
  }
  std::string Line(const std::string& name) { return dir.File(name) + "|" + server.Url("/" + name); }
  QString Ok(const std::string& name) {
    return QString::fromStdString(dir.File(name) + ":" + server.Url("/" + name) + " ->OK");
  }
  void RunWith(const std::string& listFile) {
    chosen = QString::fromStdString(listFile);
    window.Button1->click();
  }
  QStringList MemoLines() const { return window.Memo1->toPlainText().split('\n'); }

  TempDir dir;
  TestServer server;
  MessageBoxRecorder boxes;
  TfrmFlt window;
  QString chosen;
  int dialogsOpened = 0;
};

TEST_F(RedownloadWindowTest, CancelledDialogLeavesTheEarlierLogAndRequestsNothing) {
  RunWith(WriteList(Line("a.jpg") + "\r\n"));
  const QString earlier = window.Memo1->toPlainText();
  ASSERT_FALSE(earlier.isEmpty());

  RunWith("");  // the user cancels the dialog
  EXPECT_EQ(dialogsOpened, 2);
  EXPECT_EQ(window.Memo1->toPlainText(), earlier);
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(RedownloadWindowTest, EmptyListShowsExactlyOneEntry) {
  window.Memo1->setPlainText("from before");
  RunWith(WriteList(""));
  EXPECT_EQ(MemoLines(), QStringList{"No failed files records."});
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(RedownloadWindowTest, RunShowsItsEntriesInOrderAndStoresTheTiles) {
  window.Memo1->setPlainText("from before");
  RunWith(WriteList(Line("a.jpg") + "\r\n" + Line("b.jpg") + "\n"));
  EXPECT_EQ(MemoLines(), (QStringList{"Start...", Ok("a.jpg"), Ok("b.jpg"), "Download End."}));
  EXPECT_EQ(qm::ReadWholeFile(dir.File("b.jpg")), TestServer::DefaultBody("/b.jpg"));
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(RedownloadWindowTest, EntriesWithLineBreaksSpanSeveralMemoLines) {
  // A refused connection carries "Socket Error # 10061" CR LF text; the ban entry holds a LF.
  const std::string refused = "http://127.0.0.1:" + std::to_string(qmtest::UnusedLocalPort()) + "/r.jpg";
  server.Script("/b.jpg", {ScriptedAnswer::Status(403)});
  RunWith(WriteList(dir.File("r.jpg") + "|" + refused + "\r\n" + Line("b.jpg") + "\r\n" +
                    Line("c.jpg") + "\r\n"));
  const QStringList lines = MemoLines();
  ASSERT_EQ(lines.size(), 7) << window.Memo1->toPlainText().toStdString();
  EXPECT_EQ(lines[0], "Start...");
  EXPECT_EQ(lines[1], "Socket Error # 10061");
  EXPECT_TRUE(lines[2].endsWith("->" + QString::fromStdString(refused))) << lines[2].toStdString();
  EXPECT_EQ(lines[3], "HTTP/1.1 403 Forbidden->" + QString::fromStdString(server.Url("/b.jpg")));
  EXPECT_EQ(lines[4], "Error: may be your IP is banned.");
  EXPECT_EQ(lines[5], "Please try again later.");
  EXPECT_EQ(lines[6], "Download End.");
  EXPECT_FALSE(window.Memo1->toPlainText().contains('\r'));
  EXPECT_TRUE(server.RequestsFor("/c.jpg").empty());
}

TEST_F(RedownloadWindowTest, TileThatCannotBeWrittenEndsTheRunWithTheErrorBox) {
  const std::string unwritable = dir.File("missing/a.jpg");
  RunWith(WriteList(unwritable + "|" + server.Url("/a.jpg") + "\r\n" + Line("b.jpg") + "\r\n"));
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].kind, qm::MessageBoxKind::Error);
  EXPECT_EQ(boxes.Calls()[0].text, QString::fromStdString("Cannot create file " + unwritable + "."));
  EXPECT_EQ(MemoLines(), QStringList{"Start..."});
  EXPECT_TRUE(server.RequestsFor("/b.jpg").empty());

  // The window is idle again: the next run goes ahead.
  RunWith(WriteList(Line("b.jpg") + "\r\n"));
  EXPECT_EQ(MemoLines(), (QStringList{"Start...", Ok("b.jpg"), "Download End."}));
}

TEST_F(RedownloadWindowTest, UnreadableListShowsCannotOpenAfterClearingTheLog) {
  window.Memo1->setPlainText("from before");
  const std::string missing = dir.File("gone.ftl");
  RunWith(missing);
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].kind, qm::MessageBoxKind::Error);
  EXPECT_EQ(boxes.Calls()[0].text, QString::fromStdString("Cannot open file " + missing + "."));
  EXPECT_TRUE(window.Memo1->toPlainText().isEmpty());
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(RedownloadWindowTest, EveryShowClearsTheLog) {
  for (int round = 0; round < 2; ++round) {
    window.Memo1->setPlainText("Start...");
    window.show();
    EXPECT_TRUE(window.Memo1->toPlainText().isEmpty());
    window.hide();
  }
}

TEST(RedownloadWindowDialogTest, FileDialogAsksForAnFtlListAndCancelChangesNothing) {
  TfrmFlt window;
  window.show();
  window.Memo1->setPlainText("from before");
  QString title;
  QStringList filters;
  QString selectedFilter;
  QTimer::singleShot(0, &window, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    selectedFilter = dialog->selectedNameFilter();
    dialog->reject();
  });
  window.Button1->click();
  EXPECT_EQ(title, "Open ftl file:");
  EXPECT_EQ(filters, QStringList{"Projects(*.ftl)"});
  EXPECT_EQ(selectedFilter, "Projects(*.ftl)");
  EXPECT_EQ(window.Memo1->toPlainText(), "from before");
}

}  // namespace
