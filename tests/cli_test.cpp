// quillmere-cli as a process against the local test server: the files it writes are the
// controller's, byte for byte; every exit status comes from a real case; SIGINT then resume
// completes the task.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ExampleInputs;
using qmtest::ScriptedAnswer;
using qmtest::TestServer;

pid_t SpawnCli(std::vector<std::string> args) {
  args.insert(args.begin(), QUILLMERE_CLI_PATH);
  return qmtest::SpawnProgram(args);
}

int ExitStatus(pid_t pid) { return qmtest::WaitForExit(pid); }

std::vector<std::string> StartArgs(const StartInputs& in, const std::string& config) {
  return {"start", "--left=" + in.LeftLongitude, "--right=" + in.RightLongitude, "--top=" + in.TopLatitude,
          "--bottom=" + in.BottomLatitude, "--zoom=" + in.Zoom, "--folder", in.Folder, "--name", in.TaskName,
          "--config", config, "--quiet"};
}

int RunCli(const std::vector<std::string>& args) { return ExitStatus(SpawnCli(args)); }

// The log's lines in order, without those that carry the time of day (workers interleave).
std::vector<std::string> SortedLinesWithoutTimes(const std::string& path) {
  std::vector<std::string> kept;
  for (const std::string& line : qm::SplitTextLines(qm::ReadWholeFile(path))) {
    if (line.find("time") == std::string::npos) kept.push_back(line);
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

struct Cli : ::testing::Test {
  TempDir dir;
  TestServer server;
  std::string config = qmtest::WriteConfig(dir, server);
  StartInputs in = ExampleInputs(dir);
};

TEST_F(Cli, StartWritesTheFilesTheControllerWrites) {
  ASSERT_EQ(RunCli(StartArgs(in, config)), 0);
  std::filesystem::rename(in.Folder, dir.File("by-cli"));
  ControllerRig rig(dir, server, DownloadPauses::Zero());
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.RunToEnd());
  for (const char* name : {"newtask.qmtp", "newtask_list.txt", "newtask_failed.ftl"}) {
    EXPECT_EQ(qm::ReadWholeFile(dir.File("by-cli/") + name), qm::ReadWholeFile(in.Folder + "/" + name)) << name;
  }
  EXPECT_EQ(SortedLinesWithoutTimes(dir.File("by-cli/newtask_log.txt")),
            SortedLinesWithoutTimes(in.Folder + "/newtask_log.txt"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("by-cli/newtask")), {}), 12);
}

TEST_F(Cli, EachEndHasItsExitStatus) {
  StartInputs refused = in;
  refused.TopLatitude = "40.5";
  EXPECT_EQ(RunCli(StartArgs(refused, config)), 1);

  StartInputs blocked = in;
  blocked.TaskName = "blocked.qmtp";
  std::filesystem::create_directories(in.Folder + "/blocked.qmtp");
  EXPECT_EQ(RunCli(StartArgs(blocked, config)), 5);

  server.Script(TestServer::TilePath(13, 2412, 3080), std::vector<ScriptedAnswer>(3, ScriptedAnswer::Status(403)));
  StartInputs banned = in;
  banned.TaskName = "banned.qmtp";
  EXPECT_EQ(RunCli(StartArgs(banned, config)), 4);

  server.Script(TestServer::TilePath(13, 2413, 3081), std::vector<ScriptedAnswer>(3, ScriptedAnswer::Status(500)));
  StartInputs failing = in;
  failing.TaskName = "failing.qmtp";
  EXPECT_EQ(RunCli(StartArgs(failing, config)), 3);
  EXPECT_EQ(qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/failing_failed.ftl")).size(), 1u);
}

TEST_F(Cli, SigintStopsAndResumeCompletesTheTask) {
  server.SetFallback(ScriptedAnswer::Ok("slow").Delayed(400));
  const pid_t cli = SpawnCli(StartArgs(in, config));
  ASSERT_GT(cli, 0);
  server.WaitForRequests(3, std::chrono::seconds(5));
  kill(cli, SIGINT);
  EXPECT_EQ(ExitStatus(cli), 2);
  const size_t stored = std::distance(std::filesystem::directory_iterator(in.Folder + "/newtask"), {});
  EXPECT_LT(stored, 12u);

  server.SetFallback(ScriptedAnswer::Ok("fast"));
  EXPECT_EQ(RunCli({"resume", in.Folder + "/newtask.qmtp", "--config", config, "--quiet"}), 0);
  for (int32_t x = 2412; x <= 2414; ++x) {
    for (int32_t y = 3080; y <= 3083; ++y) {
      EXPECT_TRUE(qm::FileExists(in.Folder + "/newtask/" + SatelliteTileFileName(13, x, y))) << x << "," << y;
    }
  }
  const auto log = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/newtask_log.txt"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "Log continue..."), 1);
}

// A second signal does not wait for the tiles in flight; positions stay as the last save left them.
TEST_F(Cli, ASecondSignalAbortsAndRedownloadFetchesTheListAgain) {
  server.SetFallback(ScriptedAnswer::Ok("slow").Delayed(3000));
  const pid_t cli = SpawnCli(StartArgs(in, config));
  ASSERT_GT(cli, 0);
  server.WaitForRequests(8, std::chrono::seconds(5));
  kill(cli, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(cli, SIGTERM);
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_EQ(ExitStatus(cli), 2);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(2500));

  server.SetFallback(ScriptedAnswer::Ok("again"));
  qm::WriteFileAtomic(dir.File("list.ftl"), "tile.jpg|" + server.Url("/tile.jpg") + "\r\n");
  EXPECT_EQ(RunCli({"redownload", dir.File("list.ftl"), "--folder", dir.Path()}), 0);
  EXPECT_EQ(qm::ReadWholeFile(dir.File("tile.jpg")), "again");
}

}  // namespace
