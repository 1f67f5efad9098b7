// The refresh window: opened from the main window's menu on the task just downloaded, its run to
// the summary, Stop during a busy server's wait, a project it cannot refresh, and a level set
// refreshed level by level under one bar.
#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "download/level_set_run.h"
#include "platform/file_ops.h"
#include "platform/run_lock.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/refresh_project.h"
#include "tests/support/scoped_env.h"
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

// A whole tile image of one grey, as a server answers a changed tile: it decodes.
std::string WholePng(int grey) {
  QImage image(256, 256, QImage::Format_RGB32);
  image.fill(QColor(grey, grey, grey));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

struct RefreshDialogTest : ::testing::Test {
  RefreshDialogTest() { program.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n"); }

#ifdef QUILLMERE_VERIFY_PATH
  // A new answer is judged by decoding it in the verify program, which is built beside the tests.
  const ScopedEnv judge{"QUILLMERE_VERIFY_PROGRAM", QUILLMERE_VERIFY_PATH};
#endif

  // Downloads the levels 12 and 13 of city.qmset; its file.
  std::string DownloadedSet() {
    const StartInputs in = qmtest::ExampleInputs(dir, "city.qmtp");
    qmtest::ControllerRig rig(dir, server);
    LevelSetRun run(rig.controller, rig.view);
    EXPECT_EQ(run.Start(in, {12, 13}), LevelSetRun::Outcome::kRunning);
    for (int level = 0; level < 2; ++level) EXPECT_TRUE(rig.RunToEnd() && run.LevelEnded(false) == (level == 0));
    return in.Folder + "/city.qmset";
  }

  // A server that asks the client to come back in ten minutes, and a refresh that waits for it.
  static DownloadPauses BusyServerPauses() {
    DownloadPauses pauses = DownloadPauses::Zero();
    pauses.retryAfterMsPerSecond = 1000;
    return pauses;
  }
  static ScriptedAnswer Busy() {
    ScriptedAnswer busy = ScriptedAnswer::Status(503);
    busy.headers.emplace_back("Retry-After", "600");
    return busy;
  }

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
  const std::string set = DownloadedSet();
  server.SetFallback(Busy());
  RefreshDialog dialog(program.Path(), BusyServerPauses());
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
  dialog.StopButton->click();  // in the first level: the second, not reached, is let go with the set
  ASSERT_TRUE(ProcessUntil([&] { return !dialog.Running(); }));
  EXPECT_NO_THROW(qm::RunLock::Take(dir.File("maps/city_z13.qmtp")));
  EXPECT_NO_THROW(qm::RunLock::Take(set));
  dialog.StartButton->click();
  ASSERT_TRUE(dialog.Running());
  static_cast<QDialog&>(dialog).reject();  // the window's close
  EXPECT_NO_THROW(qm::RunLock::Take(set));
}

// One bar over both levels that never goes back, the level in the status, the set's summary; a
// refresh stopped in the second level does not ask the first again, and one that ends begins anew.
TEST_F(RefreshDialogTest, ASetHasOneBarAndItsStoppedRefreshSkipsTheFinishedLevel) {
#ifndef QUILLMERE_VERIFY_PATH
  GTEST_SKIP() << "new answers are judged by the verify program, which this build does not make";
#endif
  const std::string set = DownloadedSet();
  std::vector<std::string> coarse, fine;  // the tiles of zoom 12 and 13
  for (const auto& request : server.Requests()) {
    (request.path.find("satellite.day/12/") != std::string::npos ? coarse : fine).push_back(request.path);
  }
  const size_t tiles = server.RequestCount();
  ASSERT_GT(fine.size(), 1u);
  for (const std::string& path : coarse) server.Script(path, {ScriptedAnswer::Ok(WholePng(90))});
  // Every tile of zoom 13 is answered but the last in the task's order, which its worker asks
  // last; that worker then waits for the busy server.
  const auto column = [](const std::string& path) { return std::stoi(path.substr(path.find("/13/") + 4)); };
  const auto row = [](const std::string& path) { return std::stoi(path.substr(path.find('/', path.find("/13/") + 4) + 1)); };
  std::sort(fine.begin(), fine.end(), [&](const std::string& a, const std::string& b) {
    return std::pair(column(a), row(a)) < std::pair(column(b), row(b));
  });
  for (size_t i = 0; i + 1 < fine.size(); ++i) server.Script(fine[i], {ScriptedAnswer::Ok(WholePng(90))});
  server.SetFallback(Busy());
  RefreshDialog dialog(program.Path(), BusyServerPauses());
  std::vector<int> bar;
  QObject::connect(dialog.ProgressBar, &QProgressBar::valueChanged, [&bar](int value) { bar.push_back(value); });
  const auto barNeverWentBack = [&bar] { return std::is_sorted(bar.begin(), bar.end()); };
  dialog.SetProject(QString::fromStdString(set));
  dialog.StartButton->click();
  const QString second = QString("Refreshing level 2 of 2, zoom 13: %1 of %2 tiles").arg(tiles - 1).arg(tiles);
  ASSERT_TRUE(ProcessUntil([&] { return dialog.StatusLabel->text().startsWith(second); }))
      << dialog.StatusLabel->text().toStdString();
  EXPECT_GT(bar.back(), 0);
  dialog.StopButton->click();
  ASSERT_TRUE(ProcessUntil([&] { return !dialog.Running(); }));
  EXPECT_TRUE(barNeverWentBack());
  EXPECT_LT(bar.back(), dialog.ProgressBar->maximum());
  const QString stoppedSet = QString("Refresh of the set city, 2 levels ended early after %1 of %2 tiles").arg(tiles - 1).arg(tiles);
  EXPECT_TRUE(dialog.SummaryMemo->toPlainText().contains(stoppedSet)) << dialog.SummaryMemo->toPlainText().toStdString();

  server.SetFallback(ScriptedAnswer::Ok(WholePng(160)));
  bar.clear();
  dialog.StartButton->click();
  ASSERT_TRUE(ProcessUntil([&] { return !dialog.Running(); }));
  for (const std::string& path : coarse) EXPECT_EQ(server.RequestsFor(path).size(), 2u) << path;
  const QStringList lines = dialog.SummaryMemo->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], "city_z12.qmtp: refreshed before this run");
  EXPECT_TRUE(lines[2].startsWith("Refresh of the set city, 1 level (1 refreshed before): ")) << lines[2].toStdString();
  EXPECT_TRUE(lines[2].endsWith("· kept 0 · failed 0"))
      << lines[2].toStdString() << "\n" << qm::ReadWholeFile(dir.File("maps/city_z13_refresh_log.txt"));
  EXPECT_TRUE(barNeverWentBack());
  EXPECT_EQ(bar.back(), dialog.ProgressBar->maximum());
  EXPECT_EQ(dialog.StatusLabel->text(), "Refresh done.");

  dialog.StartButton->click();  // the set was refreshed to its end: the next refresh asks every level
  ASSERT_TRUE(ProcessUntil([&] { return !dialog.Running(); }));
  for (const std::string& path : coarse) EXPECT_EQ(server.RequestsFor(path).size(), 3u) << path;
}

}  // namespace
