// Tests of building a download task: range, edges, count, paths, tile folder, resume positions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/Commonfunc.h"
#include "engine/Unitclasstask.h"
#include "engine/tile_sequence.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "tests/task_test_folder.h"

namespace {

using tasktest::ExampleParams;
using tasktest::FolderEntries;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(TaskBuild, WorkedExampleGivesRangeEdgesAndCount) {
  TempDir dir;
  TDownParams p = ExampleParams(dir.Path(), "newtask.qmtp");
  const TDownTask task(&p);
  EXPECT_EQ(task.Params, &p);
  EXPECT_EQ(task.MinX, 2412);
  EXPECT_EQ(task.MaxX, 2414);
  EXPECT_EQ(task.MinY, 3080);  // the north row, after the rows are put in order
  EXPECT_EQ(task.MaxY, 3083);
  EXPECT_EQ(task.TotalCount, 12);
  EXPECT_DOUBLE_EQ(task.Left_Longitude_download, -74.00390625);
  EXPECT_DOUBLE_EQ(task.Right_Longitude_download, -73.8720703125);
  EXPECT_NEAR(task.Top_Latitude_download, 40.7139558263, 1e-9);     // north edge of row 3080
  EXPECT_NEAR(task.Bottom_Latitude_download, 40.5805846641, 1e-9);  // south edge of row 3083
  for (int i = 0; i < TDownTask::kResumeSlots; ++i) {
    EXPECT_EQ(task.ResumeX[i], 0);
    EXPECT_EQ(task.ResumeY[i], 0);
  }
}

TEST(TaskBuild, PathsComeFromTheFolderAndTheTaskStem) {
  TempDir dir;
  const std::string& s = dir.Path();
  TDownParams p = ExampleParams(s, "newtask.qmtp");
  const TDownTask task(&p);
  EXPECT_EQ(task.ProjectFile(), s + "newtask.qmtp");
  EXPECT_EQ(task.LogFile, s + "newtask_log.txt");
  EXPECT_EQ(task.FailedFile, s + "newtask_failed.ftl");
  EXPECT_EQ(task.ListFile, s + "newtask_list.txt");
  EXPECT_EQ(task.TileDir, s + "newtask/");
  EXPECT_TRUE(qm::DirectoryExists(task.TileDir));

  TDownParams dotted = ExampleParams(s, "area.north.qmtp");
  const TDownTask dottedTask(&dotted);
  EXPECT_EQ(dottedTask.TileDir, s + "area.north/");
  EXPECT_EQ(dottedTask.LogFile, s + "area.north_log.txt");
  EXPECT_TRUE(qm::DirectoryExists(s + "area.north"));

  TDownParams plain = ExampleParams(s, "plain");
  const TDownTask plainTask(&plain);
  EXPECT_EQ(plainTask.ListFile, s + "plain_list.txt");
  EXPECT_EQ(plainTask.TileDir, s + "plain/");
}

TEST(TaskBuild, StemIsTheNameBeforeItsLastDot) {
  EXPECT_EQ(TaskStem("newtask.qmtp"), "newtask");
  EXPECT_EQ(TaskStem("area.north.qmtp"), "area.north");
  EXPECT_EQ(TaskStem("plain"), "plain");
  EXPECT_EQ(TaskStem(".qmtp"), "");
  EXPECT_EQ(TaskStem("name.QMTP.qmtp"), "name.QMTP");
  EXPECT_EQ(TaskStem("old.maps/area"), "old.maps/area");  // a dot of a folder is no extension
}

TEST(TaskBuild, PointRectanglesGiveOneTile) {
  TempDir dir;
  for (const double lon : {-179.5, 0.0, 116.3}) {
    for (const int zoom : {1, 13, 19}) {
      TDownParams p = ExampleParams(dir.Path(), "one.qmtp");
      p.LeftLongitude = p.RightLongitude = lon;
      p.TopLatitude = p.BottomLatitude = 39.9;
      p.Zoom = zoom;
      const TDownTask task(&p);
      EXPECT_EQ(task.TotalCount, 1) << lon << " zoom " << zoom;
      EXPECT_EQ(task.MinX, task.MaxX);
      EXPECT_EQ(task.MinY, task.MaxY);
      // Longitude 0 lies on a tile boundary and falls in the column to its west.
      EXPECT_LE(task.Left_Longitude_download, lon);
      EXPECT_GE(task.Right_Longitude_download, lon);
      EXPECT_LT(task.Left_Longitude_download, task.Right_Longitude_download);
      EXPECT_GT(task.Top_Latitude_download, 39.9);
      EXPECT_LT(task.Bottom_Latitude_download, 39.9);
    }
  }
}

TEST(TaskBuild, RightLongitude180EndsAtTheLastColumn) {
  TempDir dir;
  for (const int zoom : {1, 13, 19}) {
    TDownParams p = ExampleParams(dir.Path(), "east.qmtp");
    p.LeftLongitude = 179.9;
    p.RightLongitude = 180;
    p.Zoom = zoom;
    const TDownTask task(&p);
    EXPECT_EQ(task.MaxX, (1 << zoom) - 1) << "zoom " << zoom;
    EXPECT_EQ(task.Right_Longitude_download, 180.0);
  }
}

TEST(TaskBuild, ExistingTileFolderIsReused) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() + "newtask");
  WriteText(dir.Path() + "newtask/kv_2412_3080_13.jpg", "old tile");
  TDownParams p = ExampleParams(dir.Path(), "newtask.qmtp");
  const TDownTask task(&p);
  EXPECT_EQ(qm::ReadWholeFile(task.TileDir + "kv_2412_3080_13.jpg"), "old tile");
}

TEST(TaskBuild, TileFolderThatCannotBeCreatedFailsTheTask) {
  TempDir dir;
  TDownParams missingParent = ExampleParams(dir.Path() + "missing/", "newtask.qmtp");
  try {
    TDownTask task(&missingParent);
    FAIL() << "the task was built";
  } catch (const TaskError& e) {
    EXPECT_EQ(std::string(e.what()), "Create directory " + dir.Path() + "missing/newtask/ Failed.");
  }

  WriteText(dir.Path() + "blocked", "a file where the folder should be");
  TDownParams blocked = ExampleParams(dir.Path(), "blocked.qmtp");
  EXPECT_THROW(TDownTask task(&blocked), TaskError);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"blocked"});
}

TEST(TaskBuild, MoreTilesThanOneTaskHoldsAreRefusedBeforeAnythingIsMade) {
  TempDir dir;
  TDownParams world = ExampleParams(dir.Path(), "world.qmtp");
  world.LeftLongitude = -180;
  world.RightLongitude = 180;
  world.TopLatitude = 85;
  world.BottomLatitude = -85;
  world.Zoom = 16;
  try {
    TDownTask task(&world);
    FAIL() << "the task was built";
  } catch (const TaskError& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("2147483647"), std::string::npos) << text;
    // 65536 columns times the rows between 85 North and 85 South.
    const int64_t rows = int64_t{LatToTileY(-85, 16)} - LatToTileY(85, 16) + 1;
    EXPECT_EQ(text, TooManyTilesText(65536 * rows));
  }
  EXPECT_TRUE(FolderEntries(dir.Path()).empty());

  // One zoom lower the whole world fits: its count is the full product.
  world.Zoom = 15;
  const TDownTask fits(&world);
  EXPECT_EQ(int64_t{fits.TotalCount}, RangeTileCount(RangeOf(fits)));
  EXPECT_GT(fits.TotalCount, 1000000000);
}

TEST(TaskBuild, ResumeLoadsEachWorkersLastTileFromTheProjectFile) {
  TempDir dir;
  WriteText(dir.Path() + "newtask.qmtp",
            "[THREADS]\r\nThreadCount=8\r\nT1X=2413\r\nT1Y=3082\r\nT2X=2412\r\nT2Y=3080\r\n"
            "T3X=\r\nT3Y=3081\r\nT4X=2414\r\nT9X=2414\r\nT9Y=3083\r\n");
  TDownParams p = ExampleParams(dir.Path(), "newtask.qmtp");
  p.Resume = true;
  const TDownTask task(&p);
  EXPECT_EQ(task.ResumeX[0], 2413);
  EXPECT_EQ(task.ResumeY[0], 3082);
  EXPECT_EQ(task.ResumeX[1], 2412);
  EXPECT_EQ(task.ResumeY[1], 3080);
  EXPECT_EQ(task.ResumeX[2], 0);  // empty value
  EXPECT_EQ(task.ResumeY[2], 3081);
  EXPECT_EQ(task.ResumeX[3], 2414);
  EXPECT_EQ(task.ResumeY[3], 0);  // missing key
  EXPECT_EQ(task.ResumeX[8], 0);  // only the running workers' positions are read
  EXPECT_EQ(ShareOf(task, 1).resumeSequence, 1);
  EXPECT_EQ(ShareOf(task, 2).resumeSequence, 0);  // a zero makes the position count as none
  EXPECT_EQ(ShareOf(task, 3).resumeSequence, 0);
  EXPECT_EQ(ShareOf(task, 1).threadCount, 8);

  TDownParams fresh = ExampleParams(dir.Path(), "newtask.qmtp");
  const TDownTask freshTask(&fresh);
  EXPECT_EQ(freshTask.ResumeX[0], 0);
  EXPECT_EQ(freshTask.ResumeX[1], 0);
}

TEST(TaskBuild, ResumeWithMoreWorkersThanSlotsStaysInsideTheTable) {
  TempDir dir;
  WriteText(dir.Path() + "many.qmtp", "[THREADS]\r\nT16X=7\r\nT16Y=8\r\nT17X=9\r\nT17Y=9\r\n");
  TDownParams p = ExampleParams(dir.Path(), "many.qmtp");
  p.Resume = true;
  p.ThreadCount = 40;
  const TDownTask task(&p);
  EXPECT_EQ(task.ResumeX[15], 7);
  EXPECT_EQ(task.ResumeY[15], 8);
}

}  // namespace
