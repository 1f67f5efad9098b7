// The main window over several zoom levels: a "to" zoom above the zoom runs a level set, with one
// estimate, one progress, one summary and one end box, and Open task opens the set file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QAction>

#include "engine/level_set.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/Unit1.h"
#include "ui/form_widgets.h"
#include "ui/refresh_dialog.h"

namespace {

struct MainWindowLevels : MainWindowOnTestServer {
  // Lets every level end at the timer's tick that follows its last worker; false on time-out.
  bool FinishSet() {
    for (int level = 0; level < 20 && window->BitBtn1->text() == "Stop"; ++level) {
      if (!WaitUntil([&] { return window->Controller().RunningThreads() == 0; })) return false;
      window->Timer1Timer();
    }
    return window->BitBtn1->text() == "Start";
  }
};

TEST_F(MainWindowLevels, ATwoLevelSetRunsAsOneDownloadAndOpensAgain) {
  EXPECT_EQ(window->EditZoomTo->text(), "13");  // one level by default
  window->UpDownTo->SetPosition(14);
  const LevelEstimates levels = EstimateLevels("-74", "-73.9", "40.7", "40.6", {13, 14});
  ASSERT_EQ(levels.levels.size(), 2u);
  const int64_t total = levels.levels[0].tiles + levels.levels[1].tiles;
  EXPECT_EQ(window->StatusText->text().toStdString(), LevelsTotalText(levels.levels));

  window->BitBtn1->click();
  EXPECT_TRUE(window->StatusText->text().startsWith("level 1 of 2, zoom 13 · ")) << window->StatusText->text().toStdString();
  ASSERT_TRUE(FinishSet());
  EXPECT_EQ(boxes.Calls().size(), 1u);  // one end box for the set
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(total));
  const std::string folder = maps.Path() + "area/";
  for (const char* file : {"newtask_z13.qmtp", "newtask_z14.qmtp", "newtask.qmset", "newtask_z14_list.txt"}) {
    EXPECT_TRUE(qm::FileExists(folder + file)) << file;
  }
  EXPECT_FALSE(qm::FileExists(folder + "newtask.qmtp"));
  const std::string summary = window->StatusText->text().toStdString();
  EXPECT_EQ(summary.rfind("Download complete: " + std::to_string(total) + " of " + std::to_string(total) + " tiles", 0), 0u)
      << summary;
  QString offered;
  window->RunRefreshDialog = [&](RefreshDialog& dialog) { offered = dialog.ProjectEdit->text(); };
  window->RefreshTiles1->trigger();
  EXPECT_EQ(offered.toStdString(), folder + "newtask.qmset") << "Refresh tiles offers the set, not its last level";

  // Open task on the set file gives back both zooms; Start continues it and asks nothing again.
  window->UpDownTo->SetPosition(13);
  window->Edit1->setText("0");
  window->PickProjectFile = [&] { return QString::fromStdString(folder + "newtask.qmset"); };
  window->Button4->click();
  EXPECT_EQ(window->Edit1->text(), "-74");
  EXPECT_EQ(window->Edit5->text(), "13");
  EXPECT_EQ(window->EditZoomTo->text(), "14");
  window->BitBtn1->click();
  ASSERT_TRUE(FinishSet());
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(total));

  // A set file whose zoom was edited beyond the grid is refused with the number as written.
  qm::IniFile(folder + "newtask.qmset").WriteString("LevelSet", "LastZoom", "4294967306");
  window->Edit1->setText("0");
  window->Button4->click();
  EXPECT_EQ(window->Edit1->text(), "0");
  EXPECT_TRUE(boxes.Calls().back().text.endsWith("its LastZoom \"4294967306\" is not a zoom level of the tile grid (0 to 30)."))
      << boxes.Calls().back().text.toStdString();
}

TEST_F(MainWindowLevels, ALastLevelBelowTheFirstIsRefused) {
  window->UpDown1->SetPosition(14);
  window->UpDownTo->SetPosition(13);
  window->BitBtn1->click();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(window->BitBtn1->text(), "Start");
  EXPECT_FALSE(qm::PathExists(maps.Path() + "area"));
}

}  // namespace
