// Start's checks in their order, task names, Stop lines and the tile count, through the controller.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/support/scoped_env.h"
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
  EXPECT_TRUE(rig.view.questions.empty()) << "a task that cannot be built is not offered";
  ASSERT_EQ(rig.view.messages.size(), 2u);
  EXPECT_NE(rig.view.messages[0].find("2147483647"), std::string::npos);
  EXPECT_EQ(rig.view.messages[1], "Error: Create task failure.");
  EXPECT_EQ(rig.controller.CurrentTask(), nullptr);
  EXPECT_EQ(rig.controller.CurrentParams()->TaskName, "newtask.qmtp");
  EXPECT_FALSE(qm::PathExists(in.Folder + "/newtask.qmtp"));
  EXPECT_FALSE(qm::PathExists(in.Folder + "/newtask"));
  EXPECT_EQ(rig.view.caption, "Start");
}

TEST_F(Checks, SettingsThatWouldFailEveryTileAreRefusedBeforeAnythingIsWritten) {
  const StartInputs in = ExampleInputs(dir);
  {
    qm::IniFile config(qmtest::WriteConfig(dir, server));
    config.WriteString("Proxy", "UseProxy", "1");
    EXPECT_EQ(StartWith(in), "The proxy is turned on but no proxy server is set: set one in Options, or turn the proxy off.");
    config.WriteString("Proxy", "UseProxy", "0");
  }
  {
    ScopedEnv ca("QUILLMERE_CA_FILE", dir.File("missing.pem"));
    EXPECT_EQ(StartWith(in), "The certificate authority file that QUILLMERE_CA_FILE names cannot be read: " +
                                 dir.File("missing.pem") + " (No such file or directory).");
    ca.Set(dir.Path());
    EXPECT_NE(StartWith(in).find("(not a regular file)."), std::string::npos);
  }
  EXPECT_FALSE(qm::PathExists(in.Folder));
  EXPECT_FALSE(rig.controller.Running());
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

// A URL template names the whole tile URL; a malformed one is refused before anything is written.
TEST(TileUrlTemplate, TilesComeFromTheTemplatesUrlsAndABadTemplateIsRefused) {
  TempDir dir;
  qmtest::TestServer server;
  {
    ControllerRig rig(dir, "https://tiles.example.org/{z}/{x}.jpg", DownloadPauses::Zero());
    StartInputs in = ExampleInputs(dir);
    in.Folder = dir.File("untouched");
    rig.controller.BitBtn1Click(in);
    ASSERT_EQ(rig.view.messages.size(), 1u);
    EXPECT_NE(rig.view.messages[0].find("it lacks {y}"), std::string::npos) << rig.view.messages[0];
    EXPECT_FALSE(qm::PathExists(in.Folder));
  }
  server.Script(qmtest::TestServer::TilePath(13, 0, 0), {});  // keeps the default answer of other paths
  ControllerRig rig(dir, "http://" + server.HostPort() + "/imagery/{z}/{x}/{y}.jpg?key=abc", DownloadPauses::Zero());
  StartInputs in = ExampleInputs(dir);
  in.RightLongitude = in.LeftLongitude;  // one tile
  in.BottomLatitude = in.TopLatitude;
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.view.messages.empty());
  ASSERT_TRUE(rig.RunToEnd());
  ASSERT_EQ(server.RequestCount(), 1u);
  const std::string path = server.Requests()[0].path;
  EXPECT_TRUE(path.starts_with("/imagery/13/") && path.ends_with(".jpg?key=abc")) << path;
  const TDownTask* task = rig.controller.CurrentTask();
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(qm::ReadWholeFile(TileFilePath(*task, task->MinX, task->MinY)), qmtest::TestServer::DefaultBody(path));
  struct stat info {};
  ASSERT_EQ(::stat(task->FailedFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the list keeps URLs with their key";
}

// The log shows a failed tile's URL with the query's values masked; the failed-tile list keeps it whole.
TEST(TileUrlTemplate, TheLogMasksTheKeyAndTheFailedListKeepsIt) {
  TempDir dir;
  qmtest::TestServer server;
  ControllerRig rig(dir, "http://" + server.HostPort() + "/i/{z}/{x}/{y}.jpg?key=abc", DownloadPauses::Zero());
  StartInputs in = ExampleInputs(dir);
  in.RightLongitude = in.LeftLongitude;  // the one tile 2412, 3080 of zoom 13
  in.BottomLatitude = in.TopLatitude;
  server.Script("/i/13/2412/3080.jpg?key=abc", std::vector(10, qmtest::ScriptedAnswer::Status(500)));
  rig.controller.BitBtn1Click(in);
  const TDownTask* task = rig.controller.CurrentTask();
  ASSERT_NE(task, nullptr);
  const std::string url = TileUrl(*task, task->MinX, task->MinY);
  ASSERT_TRUE(rig.RunToEnd());
  const std::string log = qm::ReadWholeFile(task->LogFile);
  EXPECT_EQ(log.find("key=abc"), std::string::npos) << log;
  EXPECT_NE(log.find("key=***"), std::string::npos) << log;
  EXPECT_NE(qm::ReadWholeFile(task->FailedFile).find(url), std::string::npos);
}

}  // namespace
