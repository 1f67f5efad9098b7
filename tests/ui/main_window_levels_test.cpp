// The main window over several zoom levels: a "to" zoom above the zoom runs a level set, with one
// estimate, one progress, one summary and one end box, and Open task opens the set file.
#include <gtest/gtest.h>

#include <cstdio>

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QAction>

#include "engine/level_set.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/Unit1.h"
#include "mapview/web_tile_source.h"
#include "ui/area_picker_dialog.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"
#include "ui/refresh_dialog.h"

namespace {

struct MainWindowLevels : MainWindowOnTestServer {
  // A window that has run nothing yet, on the same program folder.
  void OpenNewWindow() {
    window = std::make_unique<TForm1>(program.Path());
    window->SetDownloadPauses(DownloadPauses::Zero());
    window->show();
  }

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
  EXPECT_EQ(window->LabelTotalxy->text().toStdString(), "Total images: " + std::to_string(total));
  QString refreshRefusal;
  window->RunRefreshDialog = [&](RefreshDialog& dialog) {
    dialog.StartButton->click();
    refreshRefusal = dialog.StatusLabel->text();
  };
  window->RefreshTiles1->trigger();
  EXPECT_EQ(refreshRefusal, "The download of this project is running; refresh it once the download has ended.");
  ASSERT_TRUE(FinishSet());
  EXPECT_EQ(window->LabelTotalxy->text().toStdString(), "Total images: " + std::to_string(total));
  EXPECT_EQ(boxes.Calls().size(), 1u);  // one end box for the set
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(total));
  const std::string folder = maps.Path() + "area/";
  for (const char* file : {"newtask_z13.qmtp", "newtask_z14.qmtp", "newtask.qmset", "newtask_z14_list.txt"}) {
    EXPECT_TRUE(qm::FileExists(folder + file)) << file;
  }
  EXPECT_FALSE(qm::FileExists(folder + "newtask.qmtp"));
  EXPECT_EQ(qm::IniFile(program.ConfigPath()).ReadString("IniParas", "LastProject", ""), folder + "newtask.qmset");
  // The picker browses the last set's tiles from disk, with the path field on another folder.
  qm::WriteFileAtomic(folder + "newtask_z14/kv_4828_6164_14.jpg", "from disk");
  window->Edit6->setText(QString::fromStdString(maps.Path() + "elsewhere"));
  std::optional<std::string> tile;
  window->RunAreaPicker = [&](AreaPickerDialog& dialog) {
    tile = dialog.Source().Bytes({14, 4828, 6164}, [] { return true; });
    return 0;
  };
  window->PickOnMapButton->click();
  EXPECT_EQ(tile, "from disk");
  const std::string summary = window->StatusText->text().toStdString();
  EXPECT_EQ(summary.rfind("Download complete: " + std::to_string(total) + " of " + std::to_string(total) + " tiles", 0), 0u)
      << summary;
  QString offered;
  window->RunRefreshDialog = [&](RefreshDialog& dialog) { offered = dialog.ProjectEdit->text(); };
  window->RefreshTiles1->trigger();
  EXPECT_EQ(offered.toStdString(), folder + "newtask.qmset") << "Refresh tiles offers the set, not its last level";

  // In a new window, Open task on the set file gives back both zooms; Start finds every level
  // complete, asks nothing and says so, with the set's last log, before its box.
  OpenNewWindow();
  window->PickProjectFile = [&] { return QString::fromStdString(folder + "newtask.qmset"); };
  window->Button4->click();
  EXPECT_EQ(window->Edit1->text(), "-74");
  EXPECT_EQ(window->Edit5->text(), "13");
  EXPECT_EQ(window->EditZoomTo->text(), "14");
  const QString complete = "All 2 levels are complete: " + QString::number(total) + " tiles";
  QString statusAtBox, lastLogLineAtBox;
  const qm::MessageBoxSink recorder = qm::SetMessageBoxSink([&](const qm::MessageBoxCall& call) {
    statusAtBox = window->StatusText->text();
    lastLogLineAtBox = window->Memo1->toPlainText().split('\n').last();
    recorder(call);
  });
  qm::IniFile(program.ConfigPath()).WriteString("IniParas", "LastProject", "");
  window->BitBtn1->click();
  qm::SetMessageBoxSink(recorder);
  EXPECT_EQ(qm::IniFile(program.ConfigPath()).ReadString("IniParas", "LastProject", ""), folder + "newtask.qmset");
  EXPECT_EQ(window->BitBtn1->text(), "Start");
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(total));
  EXPECT_EQ(BoxTexts().back(), complete);
  EXPECT_EQ(statusAtBox, complete);
  EXPECT_EQ(lastLogLineAtBox.toStdString(), "Log file has been saved as " + folder + "newtask_z14_log.txt");
  EXPECT_EQ(window->LabelTotalxy->text().toStdString(), "Total images: " + std::to_string(total));
  std::string opened;
  window->OpenInShell = [&](const std::string& target) { opened = target; };
  window->Viewlogfile1->trigger();
  EXPECT_EQ(opened, folder + "newtask_z14_log.txt");
  QString refreshed;
  window->RunRefreshDialog = [&](RefreshDialog& dialog) { refreshed = dialog.ProjectEdit->text(); };
  window->RefreshTiles1->trigger();
  EXPECT_EQ(refreshed.toStdString(), folder + "newtask.qmset");
  // A log removed since shows as none, not as the log shown before.
  std::remove((folder + "newtask_z14_log.txt").c_str());
  window->BitBtn1->click();
  EXPECT_EQ(window->Memo1->toPlainText().toStdString(), "");

  // A set file whose zoom was edited beyond the grid is refused with the number as written.
  qm::IniFile(folder + "newtask.qmset").WriteString("LevelSet", "LastZoom", "4294967306");
  window->Edit1->setText("0");
  window->Button4->click();
  EXPECT_EQ(window->Edit1->text(), "0");
  EXPECT_TRUE(boxes.Calls().back().text.endsWith("its LastZoom \"4294967306\" is not a zoom level of the tile grid (0 to 30)."))
      << boxes.Calls().back().text.toStdString();
}

TEST_F(MainWindowLevels, ALevelBeyondTheServersHighestIsRefusedBeforeTheQuestionAndAnyFile) {
  program.WriteConfig("[IniParas]\r\nServer=Low\r\n[Server Low]\r\nUrl=" + server.HostPort() + "\r\nMaxZoom=13\r\n");
  window->UpDownTo->SetPosition(14);
  window->Edit1->setText("-80");  // a set large enough to be asked about
  window->Edit4->setText("30");
  window->BitBtn1->click();
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "The server \"Low\" serves zoom levels up to 13; zoom 14 is beyond them.");
  EXPECT_EQ(window->BitBtn1->text(), "Start");
  EXPECT_FALSE(qm::PathExists(maps.Path() + "area"));
  EXPECT_EQ(server.RequestCount(), 0u);
}

// A large rectangle around a small shape: the set is the shape's few tiles, asked without a question.
TEST_F(MainWindowLevels, ASetOverAShapeCountsAndKeepsOnlyTheShapesTiles) {
  window->Edit1->setText("-80");
  window->Edit4->setText("30");
  window->UpDownTo->SetPosition(14);
  window->Controller().UseArea(MakeTaskArea("{}", "few.geojson", 0, [](int32_t zoom) {
    const int32_t x = zoom == 13 ? 2412 : 4828, y = zoom == 13 ? 3080 : 6164;
    return AreaCover(zoom, x, {{RowInterval{y, y + 1}}});
  }));
  window->BitBtn1->click();
  EXPECT_TRUE(boxes.Calls().empty()) << boxes.Calls()[0].text.toStdString();
  ASSERT_TRUE(FinishSet());
  EXPECT_EQ(server.RequestCount(), 4u);

  // The area cleared while the set runs is the next Start's; the set's later levels keep the shape.
  window->EditTaskName->setText("other");
  window->Edit1->setText("-74");
  window->Edit4->setText("40.6");
  window->BitBtn1->click();
  window->ClearArea();
  ASSERT_TRUE(FinishSet());
  EXPECT_EQ(server.RequestCount(), 8u);
  EXPECT_EQ(window->Controller().Area(), nullptr);
}

// Open task shows projects and level sets together unless the user picks one kind.
TEST_F(MainWindowLevels, OpenTaskOffersProjectsAndSetsInItsFirstFilter) {
  QStringList filters;
  QTimer closer;
  int tries = 0;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      filters = dialog->nameFilters();
      dialog->reject();
    }
    if (!filters.isEmpty() || ++tries > 2000) closer.stop();
  });
  closer.start(5);
  window->Button4->click();
  ASSERT_FALSE(filters.isEmpty());
  EXPECT_EQ(filters[0], "Projects and level sets (*.qmtp *.qmset)");
  EXPECT_TRUE(filters.contains("Level sets(*.qmset)"));
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
