// The figures of a download: the sliding-window rate, the estimate before Start, tiles finished
// by an earlier run, the question before a large task, and how downloads ended.
#include "download/download_progress.h"
#include "download/status_line.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/area_input.h"
#include "engine/task_files.h"
#include "platform/file_ops.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ExampleInputs;
using std::chrono::seconds;

TEST(DownloadProgress, TheRateCoversTheLastMinuteNotTheWholeRun) {
  DownloadProgress progress;
  const auto t0 = DownloadProgress::Clock::time_point{} + seconds(1000);
  progress.Begin(10000, 2000, t0);
  EXPECT_FALSE(progress.SecondsLeft());
  // Two minutes at 8 tiles a second, then one at 2.
  for (int s = 1; s <= 180; ++s) {
    const int64_t done = s <= 120 ? 8 * s : 960 + 2 * (s - 120);
    progress.Update({done - done / 10, 0, done / 10}, t0 + seconds(s));
  }
  EXPECT_EQ(progress.Done(), 2000 + 1080);
  EXPECT_EQ(progress.Left(), 10000 - 3080);
  EXPECT_DOUBLE_EQ(progress.Rate(), 2.0);
  EXPECT_DOUBLE_EQ(*progress.SecondsLeft(), (10000 - 3080) / 2.0);
  EXPECT_DOUBLE_EQ(progress.ElapsedSeconds(), 180);
  EXPECT_EQ(ProgressText(progress), "3,080 of 10,000 tiles · 2.0 tiles/s · 00:57:40 left");
}

TEST(AreaEstimate, CountsTimeAndTheExactTileListSize) {
  TempDir dir;
  for (const auto& [l, r, t, b, z] : {std::tuple{"-74.0", "-73.9", "40.7", "40.6", "13"},
                                      std::tuple{"-180", "180", "85", "-85", "5"},
                                      std::tuple{"9,5", "10.25", "1", "-1", "11"}}) {
    const AreaEstimateOrReason area = EstimateArea(l, r, t, b, z);
    ASSERT_TRUE(area.estimate) << area.reason;
    ControllerRig rig(dir, "127.0.0.1:9", DownloadPauses::Zero());
    StartInputs in = ExampleInputs(dir);
    in.LeftLongitude = l, in.RightLongitude = r, in.TopLatitude = t, in.BottomLatitude = b, in.Zoom = z;
    rig.controller.BitBtn1Click(in);
    ASSERT_NE(rig.controller.CurrentTask(), nullptr);
    EXPECT_EQ(area.estimate->tiles, rig.controller.CurrentTask()->TotalCount);
    EXPECT_EQ(area.estimate->listBytes,
              static_cast<int64_t>(qm::ReadWholeFile(rig.controller.CurrentTask()->ListFile).size()));
    rig.controller.BitBtn1Click(in);  // Stop
    ASSERT_TRUE(rig.RunToEnd());
  }
  const AreaEstimate world = *EstimateArea("-180", "180", "85", "-85", "15").estimate;
  EXPECT_EQ(EstimateText(world), "1,070,268,416 tiles (32,768 x 32,662) · 1,548 d 10 h at 8 tiles/s · tile list 114.9 GB");
  EXPECT_EQ(EstimateText(*EstimateArea("1", "1", "1", "1", "3").estimate).substr(0, 14), "1 tile (1 x 1)");
  EXPECT_EQ(DurationText(99 * 3600 + 59 * 60 + 59), "99:59:59");
  EXPECT_EQ(DurationText(2322 * 3600 + 46 * 60 + 24), "96 d 18 h");
  // Beyond one task's limit the estimate says so.
  const AreaEstimate tooLarge = *EstimateArea("-180", "180", "85", "-85", "19").estimate;
  EXPECT_EQ(EstimateText(tooLarge).substr(0, 75),
            "Too large for one task (at most 2,147,483,647 tiles): 273,978,228,736 tiles");

  EXPECT_EQ(EstimateArea("1", "2", "3", "", "13").reason, "Type the four edges of the area in decimal degrees.");
  EXPECT_EQ(EstimateArea("1", "2", "3", "4", "13").reason, "Bottom Latitude should less than Top Latitude!");
  EXPECT_EQ(EstimateArea("1", "2", "4", "3", "31").reason, ZoomOutsideGridText(31));
}

TEST(DownloadProgressThroughTheController, AContinuedTaskCountsWhatWasFinishedBefore) {
  TempDir dir;
  qmtest::TestServer server;
  ControllerRig rig(dir, server, DownloadPauses{0, 150, 0, 0, 0});
  const StartInputs in = ExampleInputs(dir);
  ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 6));
  rig.controller.BitBtn1Click(in);  // Stop
  EXPECT_TRUE(rig.controller.Stopping());
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.controller.LastEnd(), DownloadEnd::kStopped);
  const int64_t firstRun = rig.controller.Progress().Counts().Done();
  const size_t firstRequests = server.RequestCount();

  EXPECT_TRUE(rig.StartResumesAndEnds(in));
  const DownloadProgress& progress = rig.controller.Progress();
  EXPECT_EQ(progress.Done(), 12);
  EXPECT_EQ(progress.Counts().stored, static_cast<int64_t>(server.RequestCount() - firstRequests));
  EXPECT_LE(progress.Counts().Done(), 12 - firstRun);
  EXPECT_EQ(progress.DoneBefore() + progress.Counts().Done(), 12);
  EXPECT_NE(SummaryText(rig.controller.Summary())
                .find("Download complete: 12 of 12 tiles: " + std::to_string(progress.DoneBefore()) +
                      " before this run; this run stored " + std::to_string(progress.Counts().stored) + " · blank 0"),
            std::string::npos)
      << SummaryText(rig.controller.Summary());
  EXPECT_EQ(rig.controller.LastEnd(), DownloadEnd::kComplete);
  EXPECT_TRUE(rig.view.questions.empty());
}

TEST(DownloadProgressThroughTheController, ALargeNewTaskAsksFirstAndNoChangesNothing) {
  TempDir dir;
  ControllerRig rig(dir, "127.0.0.1:9", DownloadPauses::Zero());
  StartInputs in = ExampleInputs(dir);
  in.Folder = dir.File("new");
  in.LeftLongitude = "0", in.RightLongitude = "40", in.TopLatitude = "60", in.BottomLatitude = "35";
  rig.view.confirmAnswer = false;
  rig.controller.BitBtn1Click(in);
  ASSERT_EQ(rig.view.questions.size(), 1u);
  EXPECT_NE(rig.view.questions[0].find("tiles ("), std::string::npos);
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_FALSE(qm::PathExists(in.Folder));
}

// Cancelling the tile list of a new task leaves the earlier task's files and the controller as
// they were before Start.
TEST(DownloadProgressThroughTheController, ACancelledTileListLeavesEverythingAsBefore) {
  TempDir dir;
  ControllerRig rig(dir, "127.0.0.1:9", DownloadPauses::Zero());
  StartInputs in = ExampleInputs(dir);
  rig.controller.BitBtn1Click(in);
  rig.controller.BitBtn1Click(in);  // Stop
  ASSERT_TRUE(rig.RunToEnd());
  const TDownTask* earlier = rig.controller.CurrentTask();
  const std::string project = qm::ReadWholeFile(earlier->ProjectFile());
  const std::string list = qm::ReadWholeFile(earlier->ListFile);

  in.LeftLongitude = "0", in.RightLongitude = "40", in.TopLatitude = "60", in.BottomLatitude = "55";
  in.TaskName = "big.qmtp";
  const int64_t tiles = EstimateArea("0", "40", "60", "55", "13").estimate->tiles;
  rig.view.cancelListAt = 2 * kListProgressTiles;
  rig.controller.BitBtn1Click(in);
  EXPECT_EQ(rig.view.questions.size(), 1u);
  EXPECT_EQ(rig.view.listProgress.size(), 2u);
  EXPECT_EQ(rig.view.listProgress.back(), std::make_pair(2 * kListProgressTiles, tiles));
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_EQ(rig.controller.CurrentTask(), earlier);
  for (const char* name : {"big.qmtp", "big_list.txt", "big_log.txt", "big_failed.ftl", "big"}) {
    EXPECT_FALSE(qm::PathExists(in.Folder + "/" + name)) << name;
  }
  EXPECT_EQ(qm::ReadWholeFile(earlier->ProjectFile()), project);
  EXPECT_EQ(qm::ReadWholeFile(earlier->ListFile), list);
  for (const auto& entry : std::filesystem::directory_iterator(in.Folder)) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "temporary file left: " << entry.path();
  }
  // A folder made for the cancelled task goes with it, lock file and all.
  in.Folder = dir.File("fresh");
  rig.controller.BitBtn1Click(in);
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_FALSE(qm::PathExists(in.Folder));
}

TEST(DownloadProgressThroughTheController, ARefusedDownloadCountsEveryTileItListed) {
  TempDir dir;
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Status(403));
  ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(ExampleInputs(dir));
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.controller.LastEnd(), DownloadEnd::kRefused);
  // Each worker gave up its first tile: listed, though not finished.
  ASSERT_EQ(rig.view.failed.size(), 8u);
  EXPECT_EQ(rig.controller.FailedListed(), 8);
  const std::string summary = SummaryText(rig.controller.Summary());
  EXPECT_EQ(summary.substr(0, 70), "Refused by the server: 0 of 12 tiles (stored 0 · blank 0 · failed 8)");
  EXPECT_NE(summary.find("newtask_failed.ftl"), std::string::npos);
}

TEST(DownloadProgressThroughTheController, AServerThatHasNoTilesOrSendsPagesIsPointedOut) {
  TempDir dir;
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Status(404));
  ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(ExampleInputs(dir));
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_NE(SummaryText(rig.controller.Summary())
                .find("Download complete: 12 of 12 tiles (stored 0 · blank 12 · failed 0) in "),
            std::string::npos);
  EXPECT_NE(SummaryText(rig.controller.Summary())
                .find(" · 12 of 12 tiles were not found on the server: check Options → Tile server"),
            std::string::npos);

  TempDir other;
  qmtest::TestServer pages;
  pages.SetFallback(qmtest::ScriptedAnswer::Ok("<html><body>Sign in</body></html>"));
  ControllerRig second(other, pages);
  second.controller.BitBtn1Click(ExampleInputs(other));
  ASSERT_TRUE(second.RunToEnd());
  const std::string summary = SummaryText(second.controller.Summary());
  EXPECT_NE(summary.find("12 stored answers are not an image: check Options → Tile server"), std::string::npos)
      << summary;
  // The answers are still stored as they came.
  EXPECT_EQ(qm::ReadWholeFile(second.controller.CurrentTask()->TileDir + "kv_2412_3080_13.jpg"),
            "<html><body>Sign in</body></html>");
}

TEST(DownloadProgressThroughTheController, TheSummaryShowsOnceTheLastWorkerHasEndedAndStoppingOnlyAfterStop) {
  TempDir dir;
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Reset());
  ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(ExampleInputs(dir));
  EXPECT_EQ(DownloadStatusLine(rig.controller).text.substr(0, 13), "0 of 12 tiles");
  // Network failures end every worker; no tick has run, nobody pressed Stop.
  ASSERT_TRUE(rig.bridge.PumpUntil([&] { return rig.controller.RunningThreads() == 0; }, std::chrono::seconds(30)));
  EXPECT_TRUE(rig.controller.Running());
  EXPECT_FALSE(rig.controller.Stopping());
  EXPECT_EQ(DownloadStatusLine(rig.controller).text.substr(0, 39), "Ended by a network failure: 0 of 12 til");
  EXPECT_NE(DownloadStatusLine(rig.controller).text.find("failed 8)"), std::string::npos);
  rig.controller.Timer1Timer();
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_EQ(rig.controller.LastEnd(), DownloadEnd::kNetworkFailure);
}

}  // namespace
