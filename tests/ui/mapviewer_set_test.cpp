// The map viewer on a level set of three levels made on disk: zoom 10 whole, zoom 11 with only
// its western half stored, zoom 12 not started. Which level each view shows, the legend of the
// level shown, the level picker, a level whose download begins while it is shown, and sets that
// are refused.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QPushButton>

#include "companions/mapviewer_window.h"
#include "engine/Unitclasstask.h"
#include "engine/level_set.h"
#include "mapview/level_view.h"
#include "mapview/piece_images.h"
#include "engine/task_area.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "shape/task_area_shape.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/ui/ui_test_helpers.h"

namespace {

using namespace mapview;

struct LevelSetOnDisk {
  TempDir dir;
  LevelSet set;
  std::string setFile = dir.File("trip.qmset");
  std::vector<SetLevel> levels;

  LevelSetOnDisk() {
    set.LeftLongitude = "10";
    set.RightLongitude = "10.6";
    set.TopLatitude = "50";
    set.BottomLatitude = "49.6";
    set.Folder = dir.Path();
    set.TaskName = "trip.qmtp";
    set.zooms = {10, 12};
    set.finished = {10};
    WriteLevelSet(setFile, set);
    StartLevel(10);
    StartLevel(11);
    levels = SetLevels(set, setFile);
    StoreColumns(levels[0].area, levels[0].area.minX, levels[0].area.maxX, Qt::red);
    StoreColumns(levels[1].area, levels[1].area.minX, WestEnd(levels[1].area), Qt::darkGreen);
  }
  void StartLevel(int zoom) {
    TDownParams p;
    p.LeftLongitude = 10;
    p.RightLongitude = 10.6;
    p.TopLatitude = 50;
    p.BottomLatitude = 49.6;
    p.Zoom = zoom;
    p.SavePath = dir.Path();
    p.TaskName = LevelTaskName(set.TaskName, zoom);
    WriteProjectFile(TDownTask(&p));
  }
  static int32_t WestEnd(const ProjectArea& area) { return area.minX + static_cast<int32_t>(area.Columns() / 2) - 1; }
  static void StoreColumns(const ProjectArea& area, int32_t first, int32_t last, const QColor& colour) {
    QImage image(kTilePixels, kTilePixels, QImage::Format_RGB32);
    image.fill(colour);
    const std::string bytes = EncodeJpeg(image);
    qm::CreateDirectory(area.tileFolder);
    for (int32_t y = area.minY; y <= area.maxY; ++y) {
      for (int32_t x = first; x <= last; ++x) qm::WriteFileAtomic(area.TilePath(x, y), bytes);
    }
  }
};

struct MapViewerSet : ::testing::Test {
  ProgramFolderForTest program;
  LevelSetOnDisk disk;
  MapViewerWindow window{program.Path()};
  std::vector<QString> warnings;

  void SetUp() override {
    window.SetWarningSink([this](const QString& text) { warnings.push_back(text); });
    window.resize(900, 700);
    window.show();
  }
  int ShownZoom() const { return window.Session() ? window.Session()->Area().zoom : -1; }
  // Looks at a point of the zoom-12 grid at the scale of zoom 12's tiles.
  void LookAt(double tileX, double tileY) {
    const Viewport& now = window.Map()->View();
    const Viewport there{tileX, tileY, kTilePixels, now.width, now.height};
    window.Map()->MoveTo(ViewAtZoom(there, 12, ShownZoom()));
  }
  // Waits until the zoom is shown and its survey and the choice are over.
  bool Shows(int zoom) {
    return WaitUntil([&] { return ShownZoom() == zoom && !window.Session()->Surveying(); }) &&
           WaitUntil([&] { return window.LegendText().startsWith("Stored: " + Count(zoom, TileState::kPresent)); });
  }
  QString Count(int zoom, TileState state) const {
    const ProjectArea& area = disk.levels[static_cast<size_t>(zoom - 10)].area;
    const int64_t west = LevelSetOnDisk::WestEnd(area) - area.minX + 1;
    const int64_t stored = zoom == 10 ? area.Tiles() : zoom == 11 ? west * area.Rows() : 0;
    return QString::number(state == TileState::kPresent ? stored : area.Tiles() - stored);
  }
  // The button of that text and its menu action.
  bool Enabled(const QString& text) {
    bool enabled = false;
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
      if (button->text() == text) enabled = button->isEnabled();
    }
    for (QAction* action : window.findChildren<QAction*>()) {
      if (action->text().remove('&') == text) EXPECT_EQ(action->isEnabled(), enabled) << text.toStdString();
    }
    return enabled;
  }
  void Pick(const QString& text) {
    auto* picker = window.findChild<QComboBox*>("levelPicker");
    picker->setCurrentIndex(picker->findText(text));
  }
};

TEST_F(MapViewerSet, EachViewShowsTheFinestLevelHoldingItsTilesWithThatLevelsLegend) {
  const ProjectArea& z12 = disk.levels[2].area;
  ASSERT_GE(disk.levels[1].area.Columns(), 4) << "the area is wide enough to have a half stored";
  ASSERT_TRUE(window.OpenProject(disk.setFile));
  EXPECT_TRUE(Shows(10)) << "the whole area in view is the coarsest level's scale";
  EXPECT_TRUE(window.LegendText().contains("Missing: 0"));
  EXPECT_EQ(window.windowTitle(), "trip - Map Viewer");

  LookAt(z12.minX + 1.5, z12.minY + 1.5);
  EXPECT_TRUE(Shows(11)) << "zoom 12 has not started; zoom 11 holds the western half";
  EXPECT_TRUE(window.LegendText().contains("Missing: " + Count(11, TileState::kMissing)))
      << window.LegendText().toStdString();
  const Viewport west = window.Map()->View();
  EXPECT_NEAR(west.pixelsPerTile, 2 * kTilePixels, 1e-9) << "the same scale in zoom 11's grid";
  EXPECT_NEAR(west.centerX, (z12.minX + 1.5) / 2, 1e-9);

  LookAt(z12.maxX - 1.0, z12.minY + 1.5);
  EXPECT_TRUE(Shows(10)) << "only zoom 10 holds the eastern half";

  Pick("Zoom 12 (not started)");
  EXPECT_TRUE(Shows(12));
  EXPECT_TRUE(window.LegendText().contains("Missing: " + Count(12, TileState::kMissing)));
  window.Session()->States()->SelectIn(window.Session()->Cells());
  emit window.Map()->selectionChanged();
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == "Fetch selected again") {
      EXPECT_FALSE(button->isEnabled()) << "the level's download fetches it";
    }
  }
  window.Session()->States()->ClearSelection();
  disk.StartLevel(12);
  LevelSetOnDisk::StoreColumns(z12, z12.minX, z12.minX, Qt::blue);
  EXPECT_TRUE(WaitUntil([&] { return window.Session()->States()->Count(TileState::kPresent) == z12.Rows(); }))
      << "a level is followed once its download begins";
  EXPECT_TRUE(WaitUntil([&] { return window.findChild<QComboBox*>("levelPicker")->currentText() == "Zoom 12"; }));
  Pick("Zoom 11");
  EXPECT_TRUE(Shows(11)) << "a picked level is shown wherever the view goes";
  Pick("Finest with the tiles in view");
  EXPECT_TRUE(Shows(10));
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MapViewerSet, FetchSelectedAgainFetchesTheMissingTilesOfTheLevelShown) {
  qmtest::TestServer server;
  program.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n");
  ASSERT_TRUE(window.OpenProject(disk.setFile));
  Pick("Zoom 11");
  ASSERT_TRUE(Shows(11));
  TileStateGrid& states = *window.Session()->States();
  states.SelectIn(window.Session()->Cells());
  emit window.Map()->selectionChanged();
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == "Fetch selected again") button->click();
  }
  const ProjectArea& z11 = disk.levels[1].area;
  ASSERT_TRUE(WaitUntil([&] { return states.Count(TileState::kPresent) == z11.Tiles(); }))
      << window.LegendText().toStdString();
  EXPECT_EQ(qm::ReadWholeFile(z11.TilePath(z11.maxX, z11.maxY)),
            qmtest::TestServer::DefaultBody(qmtest::TestServer::TilePath(11, z11.maxX, z11.maxY)));
  EXPECT_FALSE(qm::FileExists(disk.levels[2].area.tileFolder)) << "nothing of the other levels";
  EXPECT_TRUE(warnings.empty());
}

// The verify line is the shown level's: another level has its own, and the verified one shows its
// report again when it comes back into view.
TEST_F(MapViewerSet, TheVerifyLineIsThatOfTheLevelShown) {
  const ProjectArea& z11 = disk.levels[1].area;
  qm::WriteFileAtomic(z11.TilePath(z11.minX, z11.minY), "cut");
  ASSERT_TRUE(window.OpenProject(disk.setFile));
  Pick("Zoom 11");
  ASSERT_TRUE(Shows(11));
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == "Verify tiles") button->click();
  }
  // The tiles of the eastern half are not missing to a verify: no worker of the download has passed them.
  const QString line =
      QString("Zoom 11: %1 tiles checked: 1 damaged, 0 missing — listed in trip_z11_verify.ftl").arg(z11.Tiles());
  ASSERT_TRUE(WaitUntil([&] { return window.VerifyText() == line; })) << window.VerifyText().toStdString();
  EXPECT_TRUE(Enabled("Select the tiles the verify listed")) << "one tile to mend";
  Pick("Zoom 12 (not started)");
  ASSERT_TRUE(Shows(12));
  EXPECT_FALSE(Enabled("Verify tiles")) << "nothing stored to verify";
  Pick("Zoom 10");
  ASSERT_TRUE(Shows(10));
  EXPECT_EQ(window.VerifyText(), "");
  Pick("Zoom 11");
  EXPECT_EQ(window.VerifyText(), line);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MapViewerSet, ASetThatCannotBeReadOrWasChangedOpensNothing) {
  ASSERT_TRUE(window.OpenProject(disk.setFile));
  ViewerSession* open = window.Session();
  EXPECT_FALSE(window.OpenProject(disk.dir.File("absent.qmset")));
  LevelSet other = disk.set;
  other.finished = {10, 11, 12};
  WriteLevelSet(disk.setFile, other);
  EXPECT_FALSE(window.OpenProject(disk.setFile));
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_TRUE(warnings[0].contains("absent.qmset")) << warnings[0].toStdString();
  EXPECT_TRUE(warnings[1].contains("the finished level trip_z12.qmtp is missing")) << warnings[1].toStdString();
  EXPECT_EQ(window.Session(), open) << "what was open stays";
}

// A set over a shape whose second level's project no longer agrees with its area file: the set
// opens on its first level, and the second is refused with the reason when its turn comes.
TEST(MapViewerSetArea, ALevelWhoseAreaWasChangedIsRefusedWhenItIsShown) {
  ProgramFolderForTest program;
  TempDir dir;
  qm::WriteFileAtomic(dir.File("shape.geojson"), R"({"type": "Polygon", "coordinates": [[[9.9, 49.5], [10.7, 49.5],
      [10.7, 50.1], [9.9, 50.1], [9.9, 49.5]]]})");
  const std::shared_ptr<const TaskArea> area = TaskAreaFromFile(dir.File("shape.geojson"), 0);
  const LevelSet set{"10", "10.6", "50", "49.6", dir.Path(), "trip.qmtp", {10, 11}, {}, std::nullopt, area};
  const std::string setFile = dir.File("trip.qmset");
  WriteLevelSet(setFile, set);
  for (const int zoom : {10, 11}) {
    TDownParams p;
    p.LeftLongitude = 10, p.RightLongitude = 10.6, p.TopLatitude = 50, p.BottomLatitude = 49.6;
    p.Zoom = zoom;
    p.SavePath = dir.Path();
    p.TaskName = LevelTaskName(set.TaskName, zoom);
    p.Area = area;
    WriteProjectFile(TDownTask(&p));
  }
  qm::IniFile(dir.File("trip_z11.qmtp")).WriteString(kAreaSection, "Tiles", "1");

  MapViewerWindow window(program.Path());
  std::vector<QString> warnings;
  window.SetWarningSink([&](const QString& text) { warnings.push_back(text); });
  window.resize(900, 700);
  window.show();
  ASSERT_TRUE(window.OpenProject(setFile));
  EXPECT_EQ(window.Session()->Area().zoom, 10);
  auto* picker = window.findChild<QComboBox*>("levelPicker");
  picker->setCurrentIndex(picker->findText("Zoom 11"));
  EXPECT_EQ(window.Session()->Area().zoom, 10) << "the refused level is not shown";
  ASSERT_EQ(warnings.size(), 1u);
  const std::string changed =
      "The area file " + dir.File("trip_z11_area.geojson") + " was changed since the task " + dir.File("trip_z11.qmtp");
  EXPECT_EQ(warnings[0].toStdString().rfind(changed, 0), 0u) << warnings[0].toStdString();
}

}  // namespace
