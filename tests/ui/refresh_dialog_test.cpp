// The refresh window: opened from the main window's menu on the task just downloaded, its run to
// the summary, Stop during a busy server's wait, and a project it cannot refresh.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <filesystem>

#include "download/level_set_run.h"
#include "platform/file_ops.h"
#include "platform/run_lock.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/refresh_project.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/refresh_dialog.h"

namespace {

using qmtest::ScriptedAnswer;

TEST_F(MainWindowOnTestServer, RefreshTilesOpensOnTheCurrentTaskAndFindsEveryTileUnchanged) {
  server.SetFallback(ScriptedAnswer::Validated(qmtest::PngBytes("tile"), std::nullopt, qmtest::kStoredTileTime));
  window->BitBtn1->click();
  ASSERT_TRUE(FinishDownload());
  const size_t downloaded = server.RequestCount();
  QString project, summary;
  window->RunRefreshDialog = [&](RefreshDialog& dialog) {
    project = dialog.ProjectEdit->text();
    dialog.StartButton->click();
    ASSERT_TRUE(ProcessUntil([&] { return !dialog.Running(); }));
    summary = dialog.SummaryMemo->toPlainText();
  };
  window->RefreshTiles1->trigger();

  EXPECT_EQ(project.toStdString(), window->Controller().CurrentTask()->ProjectFile());
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2 * downloaded);
  for (size_t i = downloaded; i < requests.size(); ++i) EXPECT_EQ(requests[i].answeredStatus, 304);
  const QString expected = QString("Refresh of newtask: %1 tiles · unchanged %1 · changed 0 · kept 0 · failed 0").arg(downloaded);
  EXPECT_EQ(summary, expected);
}

struct RefreshDialogTest : ::testing::Test {
  RefreshDialogTest() { program.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n"); }

  ProgramFolderForTest program;
  TempDir dir;
  qmtest::StoredProject stored{dir};
  qmtest::TestServer server;
};

TEST_F(RefreshDialogTest, StopEndsABusyServersWaitAndAFolderThatIsGoneIsSaid) {
  ScriptedAnswer busy = ScriptedAnswer::Status(503);
  busy.headers.emplace_back("Retry-After", "600");
  server.SetFallback(busy);
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.retryAfterMsPerSecond = 1000;
  RefreshDialog dialog(program.Path(), pauses);
  dialog.SetProject(QString::fromStdString(stored.File()));
  dialog.OlderCheck->setChecked(true);
  dialog.DaysSpin->setValue(1);
  dialog.StartButton->click();
  ASSERT_TRUE(dialog.Running());
  EXPECT_FALSE(dialog.StartButton->isEnabled());
  ASSERT_TRUE(server.WaitForRequests(4, std::chrono::seconds(20)));
  dialog.StopButton->click();
  ASSERT_TRUE(ProcessUntil([&] { return !dialog.Running(); }));
  EXPECT_TRUE(dialog.StartButton->isEnabled());
  EXPECT_EQ(server.RequestCount(), 4u);
  EXPECT_TRUE(dialog.SummaryMemo->toPlainText().contains("stopped: the next refresh continues"));
  EXPECT_EQ(dialog.StatusLabel->text(), "Refresh stopped: Start with the same age continues it.");

  std::filesystem::remove_all(dir.File("area"));
  dialog.StartButton->click();
  EXPECT_FALSE(dialog.Running());
  EXPECT_TRUE(dialog.StatusLabel->text().contains("is gone")) << dialog.StatusLabel->text().toStdString();
}

// A level set is held from Start until its refresh ends or the window closes; a set held by another
// run is refused with the reason.
TEST_F(RefreshDialogTest, ASetIsHeldWhileItsLevelsAreRefreshedAndLetGoWhenTheWindowCloses) {
  const StartInputs in = qmtest::ExampleInputs(dir, "city.qmtp");
  {
    qmtest::ControllerRig rig(dir, server);
    LevelSetRun run(rig.controller, rig.view);
    ASSERT_EQ(run.Start(in, {12, 13}), LevelSetRun::Outcome::kRunning);
    for (int level = 0; level < 2; ++level) ASSERT_TRUE(rig.RunToEnd() && run.LevelEnded(false) == (level == 0));
  }
  const std::string set = in.Folder + "/city.qmset";
  ScriptedAnswer busy = ScriptedAnswer::Status(503);
  busy.headers.emplace_back("Retry-After", "600");
  server.SetFallback(busy);
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.retryAfterMsPerSecond = 1000;
  RefreshDialog dialog(program.Path(), pauses);
  dialog.SetProject(QString::fromStdString(set));
  {
    const qm::RunLock other = qm::RunLock::Take(set);
    dialog.StartButton->click();
    EXPECT_FALSE(dialog.Running());
    EXPECT_TRUE(dialog.StatusLabel->text().contains("city.qmset is being downloaded by another process"))
        << dialog.StatusLabel->text().toStdString();
  }
  dialog.StartButton->click();
  ASSERT_TRUE(dialog.Running());
  EXPECT_THROW(qm::RunLock::Take(set), qm::InUseError);
  static_cast<QDialog&>(dialog).reject();  // the window's close
  EXPECT_NO_THROW(qm::RunLock::Take(set));
}

}  // namespace
