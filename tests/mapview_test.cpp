// The map view's logic without a display: what is in view, the overview pyramid, the tile states
// read from a project's folder and failed-tile list, and the folder watch.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "engine/Unitclasstask.h"
#include "engine/level_set.h"
#include "engine/project_area.h"
#include "engine/tile_source.h"
#include "mapview/folder_watch.h"
#include "mapview/level_view.h"
#include "mapview/overview_plan.h"
#include "mapview/overview_store.h"
#include "mapview/tile_survey.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace mapview;

TEST(MapView, ImagesInViewAreTheTilesOrPiecesOnScreenWithinTheArea) {
  const CellRect area{100, 50, 140, 90};
  Viewport view;  // 256 pixels a tile: tiles themselves
  view.width = 800;
  view.height = 600;
  view.centerX = 101.0;  // the area's west edge is 1 tile left of the centre
  view.centerY = 70.5;
  const std::vector<PieceKey> tiles = ImagesInView(view, area);
  // Columns 100..102 (x from 99.44 to 102.56, clipped at 100), rows 69..71.
  std::set<std::pair<int64_t, int64_t>> seen;
  for (const PieceKey& k : tiles) {
    EXPECT_EQ(k.level, 0);
    seen.emplace(k.x, k.y);
  }
  EXPECT_EQ(seen, (std::set<std::pair<int64_t, int64_t>>{{100, 69}, {101, 69}, {102, 69}, {100, 70}, {101, 70},
                                                         {102, 70}, {100, 71}, {101, 71}, {102, 71}}));

  view.pixelsPerTile = 64;  // a quarter: tiles decoded at 64 pixels
  EXPECT_EQ(ImagesInView(view, area).front().level, 2);
  view.pixelsPerTile = 8;  // pieces of 32 by 32 tiles
  const std::vector<PieceKey> pieces = ImagesInView(view, area);
  ASSERT_FALSE(pieces.empty());
  for (const PieceKey& k : pieces) {
    EXPECT_EQ(k.level, 5);
    EXPECT_FALSE(TilesOfImage(k, area).Empty());
  }
  EXPECT_EQ(pieces.size(), 4u);  // columns 96..127 and 128..159, rows 32..63 and 64..95
  // The coarser stand-ins of a tile climb to the area's top piece and stop.
  std::optional<PieceKey> up = CoarserImage({1, 101, 70}, area);
  int steps = 0;
  for (; up; up = CoarserImage(*up, area)) ++steps;
  EXPECT_EQ(steps, OverviewTopLevel(area) - kFirstOverviewLevel + 1);
}

TEST(MapView, ZoomKeepsThePlaceUnderTheCursorAndPanKeepsTheAreaInView) {
  const CellRect area{0, 0, 1000, 1000};
  Viewport view = FitArea(area, 1000, 800);
  EXPECT_NEAR(view.TileX(500), 500, 1e-9);
  const double x = view.TileX(123), y = view.TileY(456);
  view = ZoomedAbout(view, area, 8, 123, 456);
  EXPECT_NEAR(view.TileX(123), x, 1e-9);
  EXPECT_NEAR(view.TileY(456), y, 1e-9);
  view = ZoomedAbout(view, area, 1e9, 0, 0);
  EXPECT_EQ(view.pixelsPerTile, kMaxPixelsPerTile);
  view = ZoomedAbout(view, area, 1e-12, 0, 0);
  EXPECT_EQ(view.pixelsPerTile, MinPixelsPerTile(area, 1000, 800));
  view = Panned(ZoomedAbout(view, area, 4096, 500, 400), area, -1e9, 1e9);
  EXPECT_EQ(view.TileX(500), 1000);  // the screen's middle stops at the area's corner
  EXPECT_EQ(view.TileY(400), 0);
  EXPECT_EQ(DetailLevel(256, 10), 0);
  EXPECT_EQ(DetailLevel(1, 10), 8);
  EXPECT_EQ(DetailLevel(1.0 / 64, 10), 10);
}

TEST(MapView, PyramidWalkVisitsEveryPieceOnceAfterItsChildren) {
  const CellRect area{13, 7, 13 + 70, 7 + 45};  // not aligned to any piece
  std::set<std::tuple<int, int64_t, int64_t>> visited;
  PyramidWalk walk(area);
  while (const auto piece = walk.Next()) {
    if (piece->level == kFirstOverviewLevel) {
      EXPECT_FALSE(TilesOf(*piece, area).Empty());
    }
    for (const PieceKey& child : piece->level > kFirstOverviewLevel ? ChildrenOf(*piece, area) : std::vector<PieceKey>{}) {
      EXPECT_TRUE(visited.contains({child.level, child.x, child.y})) << "child after parent";
    }
    EXPECT_TRUE(visited.insert({piece->level, piece->x, piece->y}).second) << "visited twice";
  }
  size_t expected = 0;
  for (int level = kFirstOverviewLevel; level <= OverviewTopLevel(area); ++level) {
    expected += static_cast<size_t>(PiecesOver(area, level).Count());
  }
  EXPECT_EQ(visited.size(), expected);
  EXPECT_EQ(PiecesOver(area, OverviewTopLevel(area)).Count(), 1);
}

// A project on disk: its file, its tile folder and the blank tile.
struct ProjectOnDisk : ::testing::Test {
  TempDir dir;
  std::string blank = "BLANK-TILE-BYTES";
  ProjectArea area;

  void SetUp() override {
    qm::IniFile project(dir.File("t.qmtp"));
    project.WriteString("Zoom", "Zoom", "12");
    for (const auto& [key, value] : {std::pair{"MinX", "10"}, {"MaxX", "13"}, {"MinY", "20"}, {"MaxY", "22"}}) {
      project.WriteString("XY", key, value);
    }
    area = ReadProjectArea(dir.File("t.qmtp"));
    qm::CreateDirectory(area.tileFolder);
  }
  void Tile(int32_t x, int32_t y, const std::string& bytes, int zoom = 12) {
    qm::WriteFileAtomic(area.tileFolder + SatelliteTileFileName(zoom, x, y), bytes);
  }
  TileStateGrid Surveyed() {
    TileStateGrid grid(AreaCells(area));
    const std::atomic<bool> stop{false};
    EXPECT_TRUE(SurveyTileFolder(area, blank, stop, [&](std::vector<TileFile>&& files) {
      for (const TileFile& f : files) grid.SetFile(f.x, f.y, f.state);
    }));
    grid.MarkUnseenMissing();
    grid.SetListedFailed(ReadFailedTiles(area));
    return grid;
  }
};

TEST_F(ProjectOnDisk, TileStatesComeFromTheFolderTheBlankTileAndTheFailedList) {
  Tile(10, 20, "imagery");
  Tile(11, 20, blank);
  Tile(12, 20, "BLANK-TILE-BYTEZ");  // the blank tile's size, other bytes
  Tile(10, 21, "other zoom", 13);    // not this project's
  Tile(99, 20, "outside the area");
  qm::WriteFileAtomic(area.tileFolder + "kv_011_21_12.jpg", "not tile 11, 21");
  qm::WriteFileAtomic(area.tileFolder + ".kv_13_22_12.jpg.a1b2c3", "leftover");
  qm::WriteFileAtomic(area.failedList, area.TilePath(13, 22) + "|http://h/12/13/22\r\n" + area.TilePath(10, 20) +
                                           "|http://h/12/10/20\r\nnot a line of a tile\r\n");
  TileStateGrid grid = Surveyed();
  EXPECT_EQ(grid.At(10, 20), TileState::kPresent);  // stored although once listed as failed
  EXPECT_EQ(grid.At(11, 20), TileState::kBlank);
  EXPECT_EQ(grid.At(12, 20), TileState::kPresent);
  EXPECT_EQ(grid.At(13, 22), TileState::kFailed);
  EXPECT_EQ(grid.At(10, 21), TileState::kMissing);
  EXPECT_EQ(grid.Count(TileState::kPresent), 2);
  EXPECT_EQ(grid.Count(TileState::kBlank), 1);
  EXPECT_EQ(grid.Count(TileState::kFailed), 1);
  EXPECT_EQ(grid.Count(TileState::kMissing), 12 - 4);
  EXPECT_EQ(grid.Count(TileState::kUnknown), 0);

  // Only missing and failed tiles are selected; a tile that arrives leaves the selection.
  grid.SelectIn({0, 0, 100, 100});
  EXPECT_EQ(grid.SelectedCount(), 9);
  EXPECT_FALSE(grid.Selected(11, 20));
  grid.SetFile(13, 22, FileStateOf(area.TilePath(13, 22), blank));
  EXPECT_EQ(grid.At(13, 22), TileState::kFailed) << "nothing stored yet";
  Tile(13, 22, "imagery");
  grid.SetFile(13, 22, FileStateOf(area.TilePath(13, 22), blank));
  EXPECT_EQ(grid.At(13, 22), TileState::kPresent);
  EXPECT_EQ(grid.SelectedCount(), 8);
  EXPECT_EQ(grid.SelectedTiles().size(), 8u);
  grid.SetListedFailed({});
  EXPECT_EQ(grid.Count(TileState::kFailed), 0);
}

// A stored tile the verify list names is damaged, a missing one stays missing; tiles outside a
// shaped area are outside whatever their file, never selected, and leave the other counts.
TEST_F(ProjectOnDisk, VerifyListAndShapedAreaChangeWhatTilesShow) {
  Tile(10, 20, "cut short");
  Tile(13, 22, "imagery");
  qm::WriteFileAtomic(VerifyListOf(area), area.TilePath(10, 20) + "|u\r\n" + area.TilePath(11, 20) + "|u\r\n");
  EXPECT_EQ(VerifyListOf(area), area.tileFolder.substr(0, area.tileFolder.size() - 1) + "_verify.ftl");
  TileStateGrid grid = Surveyed();
  grid.SetOutside([](int64_t x, int64_t y) { return x == 13 && y >= 21; });
  grid.SetListedDamaged(ReadListedTiles(area, VerifyListOf(area)));
  EXPECT_EQ(grid.At(10, 20), TileState::kDamaged);
  EXPECT_EQ(grid.At(11, 20), TileState::kMissing);
  EXPECT_EQ(grid.At(13, 22), TileState::kOutside);
  EXPECT_EQ(grid.Count(TileState::kOutside), 2);
  EXPECT_EQ(grid.Count(TileState::kMissing), 12 - 2 - 1);
  grid.SelectIn({0, 0, 100, 100});
  EXPECT_EQ(grid.SelectedCount(), 10) << "the damaged and the missing tiles inside";
  grid.ClearSelection();
  grid.SelectVerifyListed();
  EXPECT_EQ(grid.SelectedTiles(), (std::vector<TileXY>{{10, 20}, {11, 20}}));
  grid.ForgetDamaged(10, 20);
  EXPECT_EQ(grid.At(10, 20), TileState::kPresent);
}

TEST_F(ProjectOnDisk, FetchListNamesEachTilesFileAndUrl) {
  EXPECT_EQ(FetchListFor(area, "127.0.0.1:8080", {{12, 21}}),
            area.TilePath(12, 21) + "|http://127.0.0.1:8080" + std::string(kSatelliteTilePath) + "12/12/21" +
                std::string(kSatelliteTileSuffix) + "\r\n");
}

TEST_F(ProjectOnDisk, FolderWatchReportsTilesThatArriveAndAreReplaced) {
  FolderWatch watch;
  ASSERT_TRUE(watch.Watch(area.tileFolder));
  Tile(12, 21, "first");  // written beside and renamed into place
  Tile(12, 21, "second");
  bool overflowed = true;
  const std::vector<FolderChange> changes = watch.Changes(overflowed);
  EXPECT_FALSE(overflowed);
  std::set<std::string> names;
  for (const FolderChange& c : changes) names.insert(c.name);
  EXPECT_TRUE(names.contains(SatelliteTileFileName(12, 12, 21)));
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                          [](const FolderChange& c) { return c.name == SatelliteTileFileName(12, 12, 21); }),
            1) << "each file once";
  EXPECT_TRUE(watch.Changes(overflowed).empty());
  EXPECT_FALSE(watch.Watch(dir.File("no such folder")));
}

// A tile folder removed and made again between two reads: its end must come before its return,
// or the viewer would stop following the new folder.
TEST_F(ProjectOnDisk, FolderWatchReportsAFolderGoneBeforeItsReturn) {
  FolderWatch watch;
  const std::string parent = qm::ExtractFilePath(dir.File("t.qmtp"));
  ASSERT_TRUE(watch.Watch(parent));
  ASSERT_TRUE(watch.Watch(area.tileFolder));
  std::filesystem::remove_all(area.tileFolder);
  qm::CreateDirectory(area.tileFolder);
  bool overflowed = false;
  const std::vector<FolderChange> changes = watch.Changes(overflowed);
  const auto at = [&](const std::string& folder, const std::string& name) {
    return std::find_if(changes.begin(), changes.end(),
                        [&](const FolderChange& c) { return c.folder == folder && c.name == name; });
  };
  const auto gone = at(area.tileFolder, ""), made = at(parent, "t");
  ASSERT_NE(gone, changes.end());
  ASSERT_NE(made, changes.end());
  EXPECT_LT(gone, made);
}

TEST_F(ProjectOnDisk, OverviewStoreKeepsOneFileAPieceAcrossOpenings) {
  const std::string folder = OverviewFolderFor(dir.File("t.qmtp"));
  EXPECT_EQ(folder, dir.File("t_overviews/"));
  {
    OverviewStore store(folder);
    EXPECT_TRUE(store.Put({3, 1, 2}, 0xAB, "one"));
    EXPECT_TRUE(store.Put({3, 1, 2}, 0xCD, "two"));
    EXPECT_TRUE(store.Put({4, 0, 1}, 0x11, "three"));
  }
  OverviewStore reopened(folder);
  EXPECT_EQ(reopened.StampOf({3, 1, 2}), 0xCDu);
  EXPECT_EQ(qm::ReadWholeFile(reopened.PathOf({3, 1, 2})), "two");
  EXPECT_EQ(reopened.Size(), 2u);
  reopened.Remove({4, 0, 1});
  EXPECT_EQ(OverviewStore(folder).Size(), 1u) << "the old and removed files are gone from the folder";
}

// A level not started yet is placed where its download will put it, and a view moves between
// levels keeping its place and scale.
TEST(MapViewLevels, AFutureLevelLiesWhereItsDownloadWillPutItAndViewsKeepTheirPlace) {
  TempDir dir;
  LevelSet set;
  set.LeftLongitude = "7,25";  // typed with a decimal comma
  set.RightLongitude = "8.5";
  set.TopLatitude = "47.6";
  set.BottomLatitude = "46.9";
  set.TaskName = "alps.qmtp";
  set.zooms = {11, 13};
  const std::vector<SetLevel> planned = SetLevels(set, dir.File("alps.qmset"));
  ASSERT_EQ(planned.size(), 3u);
  TDownParams p;
  p.LeftLongitude = 7.25;
  p.RightLongitude = 8.5;
  p.TopLatitude = 47.6;
  p.BottomLatitude = 46.9;
  p.Zoom = 13;
  p.SavePath = dir.Path();
  p.TaskName = "alps_z13.qmtp";
  WriteProjectFile(TDownTask(&p));
  const ProjectArea started = ReadProjectArea(dir.File("alps_z13.qmtp"));
  const ProjectArea& future = planned[2].area;
  EXPECT_EQ(planned[2].projectFile, dir.File("alps_z13.qmtp"));
  const auto fields = [](const ProjectArea& a) {
    return std::tie(a.zoom, a.minX, a.minY, a.maxX, a.maxY, a.tileFolder, a.failedList);
  };
  EXPECT_EQ(fields(future), fields(started));

  const Viewport view{1000.5, 700.25, 512, 800, 600};
  const Viewport coarser = ViewAtZoom(view, 13, 11);
  EXPECT_DOUBLE_EQ(coarser.centerX, 250.125);
  EXPECT_DOUBLE_EQ(coarser.pixelsPerTile, 2048);
  EXPECT_EQ(NaturalZoom(view, 13), 14);
  EXPECT_EQ(NaturalZoom(coarser, 11), 14) << "the same scale names the same zoom from any level";
  EXPECT_EQ(NaturalZoom({0, 0, 182, 1, 1}, 13), 13) << "nearest in scale: 182 / 128 is more than 256 / 182";
  EXPECT_EQ(NaturalZoom({0, 0, 180, 1, 1}, 13), 12);
}

// A tile not surveyed yet may still be stored; missing and failed ones are not. The most
// coverage wins, the finer level on a tie.
TEST(MapViewLevels, TheLevelShownHoldsTheMostOfTheTilesInViewTheFinerOnATie) {
  TileStateGrid states({0, 0, 4, 1});
  states.SetFile(0, 0, FileState::kPresent);
  states.SetFile(1, 0, FileState::kBlank);
  states.SetFile(2, 0, FileState::kMissing);
  EXPECT_DOUBLE_EQ(StoredShare(&states, {0, 0, 4, 1}), 0.75) << "the tile not surveyed counts";
  states.MarkUnseenMissing();
  EXPECT_DOUBLE_EQ(StoredShare(&states, {0, 0, 4, 1}), 0.5);
  EXPECT_DOUBLE_EQ(StoredShare(&states, {0, 0, 2, 1}), 1);
  EXPECT_DOUBLE_EQ(StoredShare(nullptr, {0, 0, 2, 1}), 1) << "a level too large to survey";
  EXPECT_DOUBLE_EQ(StoredShare(&states, {}), 0);
  EXPECT_EQ(BestLevel({{14, 0.5}, {13, 1}, {12, 1}}), 1u);
  EXPECT_EQ(BestLevel({{12, 0.2}, {13, 0.2}, {11, 0.1}}), 1u);
}

}  // namespace
