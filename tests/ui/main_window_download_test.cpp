// The main window driving downloads and its menu commands: Start/Stop, the end message, the
// folder picker, "Open task ...", "View log file" and closing during a download.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "engine/project_loader.h"
#include "platform/file_ops.h"
#include "platform/run_lock.h"
#include "platform/text_lines.h"
#include "tests/support/child_process.h"
#include "tests/support/test_server.h"
#include "tests/ui/main_window_fixture.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unit1.h"
#include "ui/elided_label.h"
#include "ui/form_widgets.h"

namespace {

using qmtest::TestServer;
using MainWindowDownload = MainWindowOnTestServer;

// The status bar: the estimate while typing, the figures during the run, the summary after it.
TEST_F(MainWindowDownload, TheStatusBarEstimatesFollowsAndSumsUp) {
  window->Edit4->setText("40.6");
  emit window->Edit4->textEdited("40.6");
  EXPECT_EQ(window->StatusText->text(), "12 tiles (3 x 4) · 00:00:02 at 8 tiles/s · tile list 1.4 KB");
  window->BitBtn1->click();
  EXPECT_TRUE(window->DownloadProgressBar->isVisible());
  EXPECT_TRUE(window->StatusText->text().contains(" of 12 tiles · ")) << window->StatusText->text().toStdString();
  ASSERT_TRUE(FinishDownload());
  EXPECT_FALSE(window->DownloadProgressBar->isVisible());
  EXPECT_TRUE(window->StatusText->text().startsWith("Download complete: 12 of 12 tiles (stored 12 · blank 0 · "))
      << window->StatusText->text().toStdString();
  emit window->Edit1->textEdited("-74");
  EXPECT_TRUE(window->StatusText->text().startsWith("12 tiles"));
}

TEST_F(MainWindowDownload, StartRunsTheDownloadAndTheTimerEndsIt) {
  window->BitBtn1->click();
  EXPECT_EQ(window->BitBtn1->text(), "Stop");
  EXPECT_EQ(window->LabelTotalxy->text(), "Total images: 12");
  EXPECT_TRUE(window->Timer1->isActive());
  EXPECT_EQ(window->Memo1->toPlainText().split('\n').first().toStdString(),
            "Project: " + maps.Path() + "area/newtask.qmtp");
  ASSERT_TRUE(FinishDownload());
  EXPECT_FALSE(window->Timer1->isActive());
  EXPECT_EQ(BoxTexts(), std::vector<QString>{"Task stoped!" + QString(20, ' ')});
  EXPECT_TRUE(Memo1Lines().contains("Task Stoped!"));
  EXPECT_TRUE(Memo1Lines().contains("T2:seq=9,kv_2414_3080_13.jpg OK"));
  // The memo shows exactly the log that was saved.
  const auto saved = qm::SplitTextLines(qm::ReadWholeFile(maps.Path() + "area/newtask_log.txt"));
  EXPECT_EQ(static_cast<size_t>(Memo1Lines().size()), saved.size());
  EXPECT_EQ(server.RequestCount(), 12u);
}

TEST_F(MainWindowDownload, StopWritesOneLinePerWorkerAndTheEndComesLater) {
  server.SetFallback(qmtest::ScriptedAnswer::Ok("tile").Delayed(100));
  window->BitBtn1->click();
  window->BitBtn1->click();
  window->FlushMemos();
  EXPECT_TRUE(Memo1Lines().contains("Thread3will be terminated by user. please wait..."));
  EXPECT_EQ(window->BitBtn1->text(), "Stop");
  ASSERT_TRUE(FinishDownload());
  EXPECT_EQ(Memo1Lines().filter(" Finished.").size(), 8);
}

TEST_F(MainWindowDownload, TheSummaryShowsWhenTheWorkersEndAndNeverWidensTheWindow) {
  // Failing tiles: the summary names the failed-tile list in a folder of a long name.
  server.SetFallback(qmtest::ScriptedAnswer::Status(500).Delayed(200));
  window->Edit6->setText(QString::fromStdString(maps.Path() + "a-folder-with-a-long-name-" + std::string(150, 'x')));
  const int width = window->width();
  window->BitBtn1->click();
  ASSERT_TRUE(ProcessUntil([&] { return server.RequestCount() >= 8; }));  // every worker is in a tile
  window->BitBtn1->click();  // Stop
  EXPECT_TRUE(window->StatusText->text().startsWith("Stopping: ")) << window->StatusText->text().toStdString();
  EXPECT_TRUE(window->StatusText->text().contains(" of 8 workers are finishing their tile..."));
  ASSERT_TRUE(ProcessUntil([&] { return window->Controller().RunningThreads() == 0; }));
  EXPECT_TRUE(window->StatusText->text().startsWith("Download stopped: ")) << window->StatusText->text().toStdString();
  QString statusAtTheBox;
  const qm::MessageBoxSink recorder = qm::SetMessageBoxSink([&](const qm::MessageBoxCall& call) {
    statusAtTheBox = window->StatusText->text();
    recorder(call);
  });
  window->Timer1Timer();
  qm::SetMessageBoxSink(recorder);
  EXPECT_TRUE(statusAtTheBox.startsWith("Download stopped: ")) << statusAtTheBox.toStdString();
  EXPECT_EQ(BoxTexts(), std::vector<QString>{"Task stoped!" + QString(20, ' ')});
  QCoreApplication::processEvents();
  EXPECT_EQ(window->width(), width);
  EXPECT_TRUE(window->StatusText->text().contains("newtask_failed.ftl"));
  EXPECT_TRUE(static_cast<ElidedLabel*>(window->StatusText)->Elided());
  EXPECT_EQ(window->StatusText->toolTip(), window->StatusText->text());
}

TEST_F(MainWindowDownload, FolderPickerFillsThePathAndCancelKeepsIt) {
  window->PickFolder = [] { return QString("/chosen/folder"); };
  window->Button1->click();
  EXPECT_EQ(window->Edit6->text(), "/chosen/folder");
  window->PickFolder = [] { return QString(); };
  window->Button1->click();
  EXPECT_EQ(window->Edit6->text(), "/chosen/folder");
}

TEST_F(MainWindowDownload, OpenTaskFillsTheFieldsAndStartContinuesIt) {
  window->BitBtn1->click();
  ASSERT_TRUE(FinishDownload());
  const std::string project = maps.Path() + "area/newtask.qmtp";
  window->Edit1->setText("0");
  window->Edit6->setText("elsewhere");
  window->EditTaskName->setText("other");
  window->PickProjectFile = [&] { return QString::fromStdString(project); };
  window->Button4->click();
  EXPECT_EQ(window->Edit1->text(), "-74");
  EXPECT_EQ(window->Edit3->text(), "-73.9");
  EXPECT_EQ(window->Edit2->text(), "40.7");
  EXPECT_EQ(window->Edit4->text(), "40.6");
  EXPECT_EQ(window->Edit5->text(), "13");
  EXPECT_EQ(window->Edit6->text().toStdString(), maps.Path() + "area/");
  EXPECT_EQ(window->EditTaskName->text(), "newtask.qmtp");
  window->BitBtn1->click();
  ASSERT_NE(window->Controller().CurrentParams(), nullptr);
  EXPECT_TRUE(window->Controller().CurrentParams()->Resume);
  ASSERT_TRUE(FinishDownload());
  EXPECT_EQ(server.RequestCount(), 12u);  // everything was done already
}

TEST_F(MainWindowDownload, OpenTaskShowsTheStoredZoomEvenOutOfRangeAndZeroWhenMissing) {
  const std::string zoom25 = maps.Path() + "z.qmtp";
  qm::WriteFileAtomic(zoom25, "[Zoom]\r\nZoom=25\r\n");
  emit window->Edit1->textEdited("-74");
  EXPECT_TRUE(window->StatusText->text().startsWith("12 tiles"));
  window->PickProjectFile = [&] { return QString::fromStdString(zoom25); };
  window->Button4->click();
  EXPECT_EQ(window->Edit5->text(), "25");
  EXPECT_EQ(window->Edit1->text(), "");
  // The estimate of the fields as they were does not stay.
  EXPECT_EQ(window->StatusText->text(), "Type the four edges of the area in decimal degrees.");
  const std::string notProject = maps.Path() + "notes.txt";
  qm::WriteFileAtomic(notProject, "hello\r\n");
  window->PickProjectFile = [&] { return QString::fromStdString(notProject); };
  window->Button4->click();
  EXPECT_EQ(window->Edit5->text(), "0");
  EXPECT_EQ(window->EditTaskName->text(), "notes.txt");
  window->PickProjectFile = [] { return QString(); };  // cancelled: nothing changes
  window->Button4->click();
  EXPECT_EQ(window->EditTaskName->text(), "notes.txt");
}

TEST_F(MainWindowDownload, ViewLogFileTellsWhatIsMissingOrOpensTheLog) {
  std::vector<std::string> opened;
  window->OpenInShell = [&](const std::string& target) { opened.push_back(target); };
  window->Viewlogfile1->trigger();
  EXPECT_EQ(BoxTexts(), std::vector<QString>{"No task running now." + QString(18, ' ')});
  window->BitBtn1->click();
  ASSERT_TRUE(FinishDownload());
  window->Viewlogfile1->trigger();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], maps.Path() + "area/newtask_log.txt");
  std::remove(opened[0].c_str());
  window->Viewlogfile1->trigger();
  EXPECT_EQ(BoxTexts().back(), "No logfile now." + QString(25, ' '));
}

// The window holds its project from Start to the end of the download: a held project is refused
// in a box before anything is written, and another process is refused while the window runs.
TEST_F(MainWindowDownload, AProjectHeldByAnotherRunIsRefusedAndTheWindowHoldsItsOwn) {
  const std::string project = maps.Path() + "area/newtask.qmtp";
  const std::string busy = project + " is being downloaded by another process (" + std::to_string(::getpid()) + ")";
  ASSERT_TRUE(qm::CreateDirectory(maps.Path() + "area"));
  {
    const qm::RunLock other = qm::RunLock::Take(project);
    window->BitBtn1->click();
    EXPECT_EQ(BoxTexts(), std::vector<QString>{QString::fromStdString(busy)});
    EXPECT_EQ(window->BitBtn1->text(), "Start");
    EXPECT_FALSE(qm::PathExists(project));
    EXPECT_FALSE(qm::PathExists(maps.Path() + "area/newtask"));
  }
  server.SetFallback(qmtest::ScriptedAnswer::Ok("tile").Delayed(30000));
  window->BitBtn1->click();
  ASSERT_TRUE(ProcessUntil([&] { return server.RequestCount() >= 1; }));
  const qmtest::ProgramOutput other =
      qmtest::RunProgram({QUILLMERE_CLI_PATH, "resume", project, "--config", program.ConfigPath()}, maps.Path());
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find(busy), std::string::npos) << other.err;
  window->close();
  EXPECT_EQ(window->BitBtn1->text(), "Start");
  EXPECT_FALSE(qm::PathExists(qm::LockFileOf(project)));
}

TEST_F(MainWindowDownload, ClosingDuringADownloadStopsWaitsAndSavesWithoutAMessage) {
  server.SetFallback(qmtest::ScriptedAnswer::Ok("tile").Delayed(2000));
  window->BitBtn1->click();
  ASSERT_TRUE(ProcessUntil([&] { return server.RequestCount() >= 8; }));
  window->close();
  EXPECT_EQ(window->BitBtn1->text(), "Start");
  EXPECT_TRUE(boxes.Calls().empty());
  const auto saved = qm::SplitTextLines(qm::ReadWholeFile(maps.Path() + "area/newtask_log.txt"));
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "Task Stoped!"), 1);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "T1 Finished."), 1);
}

}  // namespace

namespace {

TEST_F(MainWindowDownload, MenuCommandsOpenTheirTargetsAndADoubleClickViewsTheLog) {
  std::vector<std::string> opened;
  window->OpenInShell = [&](const std::string& target) { opened.push_back(target); };
  window->Usermanual1->trigger();
  window->Homepage1->trigger();
  window->Mapviewer1->trigger();
  window->CombineImages1->trigger();
  // The help comes from the data folder; the companions lie beside the running executable.
  EXPECT_EQ(opened, (std::vector<std::string>{program.Path() + "help/help.html", "https://quillmere.example.org/",
                                              qm::ProgramFolder() + "mapviewer", qm::ProgramFolder() + "mapcombiner"}));
  QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(window->Memo1->viewport(), &click);
  EXPECT_EQ(BoxTexts(), std::vector<QString>{"No task running now." + QString(18, ' ')});
}

}  // namespace
