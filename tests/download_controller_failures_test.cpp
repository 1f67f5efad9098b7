// The controller when files fail, when settings or fields change, and around Stop and exit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/project_loader.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_lines.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ExampleInputs;
using qmtest::ScriptedAnswer;
using qmtest::TestServer;

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST(ControllerFailures, AFailingSaveIsReportedAndTheDownloadStillEnds) {
  TempDir dir;
  TestServer server;
  server.SetFallback(ScriptedAnswer::Ok("tile").Delayed(150));
  ControllerRig rig(dir, server);
  const StartInputs in = ExampleInputs(dir);
  ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 8));
  const std::string log = in.Folder + "/newtask_log.txt";
  ASSERT_EQ(chmod(log.c_str(), 0444), 0);
  for (int i = 0; i < 5; ++i) rig.controller.Timer1Timer();
  EXPECT_EQ(rig.view.errors, std::vector<std::string>{"Unable to write to " + log});
  EXPECT_TRUE(rig.controller.Running());

  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.view.errors.size(), 2u);  // the end sequence's save fails too
  EXPECT_EQ(rig.view.caption, "Start");
  EXPECT_EQ(rig.view.messages.back(), "Task stoped!" + std::string(20, ' '));
  // The progress keys were still saved, so the task can be continued.
  EXPECT_NE(qm::IniFile(in.Folder + "/newtask.qmtp").ReadInteger("THREADS", "T1X", 0), 0);
  chmod(log.c_str(), 0644);
}

TEST(ControllerFailures, ContinuingATaskWhoseLogWasDeletedStopsWithTheFileError) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  const StartInputs in = ExampleInputs(dir);
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.RunToEnd());
  const std::string log = in.Folder + "/newtask_log.txt";
  std::remove(log.c_str());
  const size_t requests = server.RequestCount();
  rig.controller.BitBtn1Click(in);
  EXPECT_TRUE(rig.controller.CurrentParams()->Resume);
  EXPECT_EQ(rig.view.errors, std::vector<std::string>{"Cannot open file " + log});
  EXPECT_EQ(rig.view.caption, "Start");
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_EQ(rig.controller.RunningThreads(), 0);
  EXPECT_EQ(server.RequestCount(), requests);
}

TEST(ControllerFailures, StartRemovesTheTemporaryTilesAKilledRunLeft) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  const StartInputs in = ExampleInputs(dir);
  const std::string tiles = in.Folder + "/newtask/";
  std::filesystem::create_directories(tiles + ".kv_2412_3080_13.jpg.Folder");  // not a file
  const std::vector<std::string> leftovers = {".kv_2413_3082_13.jpg.DPj8RH",
                                              ".kv_7_9_12.jpg.a1B2c3"};
  const std::vector<std::string> others = {".kv_1_2.jpg.DPj8RH", ".kv_1_2_x.jpg.DPj8RH",
                                           ".kv_1_2_3.png.DPj8RH", ".notes.txt.DPj8RH",
                                           ".kv_1_2_3.jpg.toolong", "kv_1_2_3.jpg.DPj8RH"};
  for (const auto& names : {leftovers, others}) {
    for (const std::string& name : names) qm::WriteFileAtomic(tiles + name, "");
  }
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.RunToEnd());
  for (const std::string& name : leftovers) EXPECT_FALSE(qm::PathExists(tiles + name)) << name;
  for (const std::string& name : others) EXPECT_TRUE(qm::FileExists(tiles + name)) << name;
  EXPECT_TRUE(qm::DirectoryExists(tiles + ".kv_2412_3080_13.jpg.Folder"));
  EXPECT_TRUE(qm::FileExists(tiles + "kv_2413_3082_13.jpg"));
}

TEST(ControllerResume, OnlyTheSameMapTypeZoomAndFieldsContinue) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  StartInputs in = ExampleInputs(dir);
  in.RightLongitude = in.LeftLongitude;  // one column, 4 tiles
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.RunToEnd());
  const std::string project = in.Folder + "/newtask.qmtp";

  // "Open task ..." fills the fields with the stored texts; Start then continues.
  const ProjectFields fields = ReadProjectFields(project);
  StartInputs opened{fields.LeftLongitude, fields.RightLongitude, fields.TopLatitude, fields.BottomLatitude,
                     std::to_string(fields.Zoom), fields.Folder, fields.TaskName};
  EXPECT_TRUE(rig.StartResumesAndEnds(opened));

  StartInputs otherZoom = in;
  otherZoom.Zoom = "12";
  EXPECT_FALSE(rig.StartResumesAndEnds(otherZoom));
  EXPECT_FALSE(rig.StartResumesAndEnds(in));  // a new project again, then another map type
  qm::IniFile(project).WriteString("MapsType", "MapsType", "5");
  EXPECT_FALSE(rig.StartResumesAndEnds(in));
  EXPECT_EQ(rig.view.caption, "Start");
}

TEST(ControllerSettings, OnlyUseProxyOneTurnsTheProxyOnAndTheSettingsAreReadAtEveryStart) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  StartInputs in = ExampleInputs(dir);
  in.RightLongitude = in.LeftLongitude;
  in.BottomLatitude = in.TopLatitude;
  qm::IniFile config(dir.File("ini/config.ini"));
  for (const auto& [stored, used] : std::vector<std::pair<std::string, bool>>{{"2", false}, {"yes", false}, {"0x1", true}}) {
    config.WriteString("Proxy", "UseProxy", stored);
    config.WriteString("Proxy", "ProxyServer", "127.0.0.1");
    config.WriteString("Proxy", "ProxyPort", std::to_string(server.Port()));
    in.TaskName = "proxy" + stored + ".qmtp";  // a new task each time, so the tile is asked for
    rig.controller.BitBtn1Click(in);
    ASSERT_NE(rig.controller.CurrentParams(), nullptr);
    EXPECT_EQ(rig.controller.CurrentParams()->UseProxy, used) << stored;
    EXPECT_EQ(rig.controller.CurrentParams()->ProxyPort, std::to_string(server.Port()));
    ASSERT_TRUE(rig.RunToEnd());
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_FALSE(requests[0].proxyForm);
  EXPECT_FALSE(requests[1].proxyForm);
  EXPECT_TRUE(requests[2].proxyForm);
}

TEST(ControllerStop, WithOneTileOneWorkerGetsOneLine) {
  TempDir dir;
  TestServer server;
  server.SetFallback(ScriptedAnswer::Ok("tile").Delayed(100));
  ControllerRig rig(dir, server);
  StartInputs in = ExampleInputs(dir);
  in.RightLongitude = in.LeftLongitude;
  in.BottomLatitude = in.TopLatitude;
  rig.controller.BitBtn1Click(in);
  rig.controller.BitBtn1Click(in);
  const auto& log = rig.controller.Log().Lines();
  EXPECT_EQ(CountOf(log, "Thread1will be terminated by user. please wait..."), 1u);
  EXPECT_EQ(CountOf(log, "Thread2will be terminated by user. please wait..."), 0u);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(CountOf(rig.controller.Log().Lines(), "T1 Finished."), 1u);
}

TEST(ControllerExit, TicksWhileWaitingDoNotEndTheDownloadTwice) {
  TempDir dir;
  TestServer server;
  server.SetFallback(ScriptedAnswer::Ok("tile").Delayed(300));
  ControllerRig rig(dir, server);
  const StartInputs in = ExampleInputs(dir);
  ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 4));
  rig.controller.ShutDown([&] {
    rig.bridge.Pump();
    rig.controller.Timer1Timer();  // a timer event delivered while the window waits
  });
  EXPECT_TRUE(rig.view.messages.empty());
  const auto log = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/newtask_log.txt"));
  EXPECT_EQ(CountOf(log, "Task Stoped!"), 1u);
  EXPECT_FALSE(rig.view.timerEnabled);
}

// Start refuses such a zoom before building a task; the task refuses it too, for any other caller.
TEST(ControllerFailures, AZoomOutsideTheGridBuildsNoTask) {
  TempDir dir;
  TDownParams params;
  params.SavePath = dir.Path();
  params.TaskName = "t.qmtp";
  params.Zoom = 31;
  EXPECT_THROW(TDownTask task(&params), TaskError);
  EXPECT_FALSE(qm::PathExists(dir.File("t")));
}

}  // namespace
