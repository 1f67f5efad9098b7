// Start's checks in their order, task names, Stop lines and the tile count, through the controller.
#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ExampleInputs;

struct Checks : ::testing::Test {
  TempDir dir;
  qmtest::TestServer server;
  ControllerRig rig{dir, server};

  // Presses Start and returns the one message shown (or "" when none).
  std::string StartWith(const StartInputs& in) {
    rig.view.messages.clear();
    rig.controller.BitBtn1Click(in);
    return rig.view.messages.empty() ? "" : rig.view.messages.front();
  }
};

TEST_F(Checks, EachFailureShowsItsMessageAndStaysIdle) {
  StartInputs in = ExampleInputs(dir);
  auto with = [&](auto change) {
    StartInputs copy = in;
    change(copy);
    return StartWith(copy);
  };
  EXPECT_EQ(with([](StartInputs& s) { s.Folder = ""; }), "Please select a path to save the images.");
  const std::string deep = dir.File("missing/deeper");
  EXPECT_EQ(with([&](StartInputs& s) { s.Folder = deep; }), "Create directory " + deep + " Failed.");
  EXPECT_EQ(with([](StartInputs& s) { s.TopLatitude = ""; }), "Longitude or latitude input error!");
  EXPECT_EQ(with([](StartInputs& s) { s.LeftLongitude = "1.2.3"; }), "Longitude or latitude input error!");
  EXPECT_EQ(with([](StartInputs& s) { s.LeftLongitude = "-180.0001"; }),
            "Left Longitude should be between -180 and 180.");
  EXPECT_EQ(with([](StartInputs& s) { s.RightLongitude = "180.0001"; }),
            "Right Longitude should be between -180 and 180.");
  EXPECT_EQ(with([](StartInputs& s) { s.TopLatitude = "85,1"; }), "Top Latitude should be between -85 and 85.");
  EXPECT_EQ(with([](StartInputs& s) { s.BottomLatitude = "-90"; }),
            "Bottom Latitude should be between -85 and 85.");
  EXPECT_EQ(with([](StartInputs& s) { s.LeftLongitude = "-73"; }),
            "Left Longitude should less than Right Longitude!");
  EXPECT_EQ(with([](StartInputs& s) { s.TopLatitude = "40.5"; }),
            "Bottom Latitude should less than Top Latitude!");
  // The first failing check wins: an out-of-range left longitude before a bad order of latitudes.
  EXPECT_EQ(with([](StartInputs& s) { s.LeftLongitude = "200"; s.TopLatitude = "0"; }),
            "Left Longitude should be between -180 and 180.");
  EXPECT_EQ(rig.view.caption, "Start");
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_EQ(rig.controller.CurrentTask(), nullptr);
}

// Zooms past the 32-bit grid and task names that leave the folder are refused before anything,
// the folder included, is written; a one-tile area would otherwise pass every other check.
TEST_F(Checks, ZoomsOutsideTheGridAndTaskNamesWithPathsAreRefused) {
  StartInputs in = ExampleInputs(dir);
  in.Folder = dir.File("untouched");
  in.RightLongitude = in.LeftLongitude;
  in.BottomLatitude = in.TopLatitude;
  for (const char* zoom : {"31", "32", "40", "-1", "255"}) {
    in.Zoom = zoom;
    EXPECT_EQ(StartWith(in), ZoomOutsideGridText(std::stoi(zoom)));
  }
  in.Zoom = "13";
  for (const char* name : {"../../x", "a/b.qmtp", "..", ".", "..qmtp", "...qmtp"}) {
    in.TaskName = name;
    EXPECT_NE(StartWith(in).find("is not a plain file name"), std::string::npos) << name;
  }
  EXPECT_FALSE(qm::PathExists(in.Folder));
  EXPECT_EQ(rig.controller.CurrentTask(), nullptr);
  in.Zoom = "0";
  in.TaskName = "..x";
  ASSERT_EQ(StartWith(in), "");
  EXPECT_EQ(rig.view.totalLabel, "Total images: 1");
  ASSERT_TRUE(rig.RunToEnd());
}

TEST_F(Checks, FolderIsCreatedEvenWhenALaterCheckFails) {
  StartInputs in = ExampleInputs(dir);
  in.LeftLongitude = "abc";
  EXPECT_EQ(StartWith(in), "Longitude or latitude input error!");
  EXPECT_TRUE(qm::DirectoryExists(in.Folder));
}

TEST_F(Checks, BoundsAndEqualSidesAndDecimalCommaAreAccepted) {
  StartInputs in = ExampleInputs(dir);
  in.LeftLongitude = "-74,0";
  in.RightLongitude = "-74,0";
  in.TopLatitude = "40,7";
  in.BottomLatitude = "40,7";
  ASSERT_EQ(StartWith(in), "");
  ASSERT_TRUE(rig.controller.Running());
  EXPECT_EQ(rig.controller.CurrentParams()->LeftLongitude, -74.0);
  EXPECT_EQ(rig.view.totalLabel, "Total images: 1");
  EXPECT_EQ(rig.controller.CurrentParams()->ThreadCount, 1);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.view.messages.back(), "Task stoped!" + std::string(20, ' '));

  // -180, 180, -85 and 85 pass the checks; the whole world at zoom 1 is 4 tiles.
  in = ExampleInputs(dir);
  in.LeftLongitude = "-180";
  in.RightLongitude = "180";
  in.TopLatitude = "85";
  in.BottomLatitude = "-85";
  in.Zoom = "1";
  ASSERT_EQ(StartWith(in), "");
  EXPECT_EQ(rig.view.totalLabel, "Total images: 4");
  EXPECT_EQ(rig.controller.CurrentParams()->ThreadCount, 4);
  ASSERT_TRUE(rig.RunToEnd());
}

TEST_F(Checks, TaskNamesGetTheProjectExtensionUnlessTheyHaveItExactly) {
  const std::pair<const char*, const char*> cases[] = {
      {"newtask", "newtask.qmtp"}, {"newtask.qmtp", "newtask.qmtp"}, {"", ".qmtp"}, {"x.QMTP", "x.QMTP.qmtp"}};
  for (const auto& [typed, expected] : cases) {
    StartInputs in = ExampleInputs(dir, typed);
    in.LeftLongitude = "-74.0";
    in.RightLongitude = "-74.0";
    in.TopLatitude = in.BottomLatitude = "40.7";
    ASSERT_EQ(StartWith(in), "") << typed;
    EXPECT_EQ(rig.controller.CurrentParams()->TaskName, expected);
    EXPECT_TRUE(qm::FileExists(in.Folder + "/" + expected)) << expected;
    ASSERT_TRUE(rig.RunToEnd());
  }
}

TEST_F(Checks, TooManyTilesAreRefusedAndNothingIsWritten) {
  StartInputs in = ExampleInputs(dir);
  in.LeftLongitude = "-180";
  in.RightLongitude = "180";
  in.TopLatitude = "85";
  in.BottomLatitude = "-85";
  in.Zoom = "17";
  rig.controller.BitBtn1Click(in);
  ASSERT_EQ(rig.view.messages.size(), 2u);
  EXPECT_NE(rig.view.messages[0].find("2147483647"), std::string::npos);
  EXPECT_EQ(rig.view.messages[1], "Error: Create task failure.");
  EXPECT_EQ(rig.controller.CurrentTask(), nullptr);
  EXPECT_EQ(rig.controller.CurrentParams()->TaskName, "newtask.qmtp");
  EXPECT_FALSE(qm::PathExists(in.Folder + "/newtask.qmtp"));
  EXPECT_FALSE(qm::PathExists(in.Folder + "/newtask"));
  EXPECT_EQ(rig.view.caption, "Start");
}

TEST_F(Checks, StopAsksEveryWorkerAndWritesItsLine) {
  ControllerRig slow(dir, server, DownloadPauses{0, 200, 0, 0, 0});
  slow.controller.BitBtn1Click(ExampleInputs(dir));
  EXPECT_EQ(slow.view.caption, "Stop");
  EXPECT_EQ(slow.controller.RunningThreads(), 8);
  slow.controller.BitBtn1Click(ExampleInputs(dir));
  const auto& log = slow.controller.Log().Lines();
  const auto third = std::find(log.begin(), log.end(), "Thread3will be terminated by user. please wait...");
  EXPECT_NE(third, log.end());
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.find("will be terminated by user") != std::string::npos; }),
            8);
  EXPECT_EQ(slow.view.caption, "Stop");  // the end comes from the timer, not the press
  ASSERT_TRUE(slow.RunToEnd());
  EXPECT_EQ(slow.view.caption, "Start");
  EXPECT_EQ(slow.view.log, slow.controller.Log().Lines());
}

}  // namespace
