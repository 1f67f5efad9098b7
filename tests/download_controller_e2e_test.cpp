// Whole downloads through the controller against the local server: a complete run, a stopped
// run continued, a changed field starting anew, and a killed process continued.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>

#include "engine/tile_sequence.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_lines.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ExampleInputs;
using qmtest::TestServer;

constexpr int kMinX = 2412, kMaxX = 2414, kMinY = 3080, kMaxY = 3083;

std::string TilePath(int x, int y) { return TestServer::TilePath(13, x, y); }

std::string TileFile(const StartInputs& in, const std::string& stem, int x, int y) {
  return in.Folder + "/" + stem + "/kv_" + std::to_string(x) + "_" + std::to_string(y) + "_13.jpg";
}

void ExpectEveryTileStored(const StartInputs& in, const std::string& stem) {
  for (int x = kMinX; x <= kMaxX; ++x) {
    for (int y = kMinY; y <= kMaxY; ++y) {
      const std::string file = TileFile(in, stem, x, y);
      ASSERT_TRUE(qm::FileExists(file)) << file;
      EXPECT_EQ(qm::ReadWholeFile(file), TestServer::DefaultBody(TilePath(x, y)));
    }
  }
}

// The worker positions the project file holds: index -> (x, y), zeros for none.
std::map<int, std::pair<int, int>> StoredPositions(const std::string& projectFile) {
  std::map<int, std::pair<int, int>> positions;
  const qm::IniFile project(projectFile);
  for (int i = 0; i < 8; ++i) {
    const std::string n = std::to_string(i + 1);
    positions[i] = {project.ReadInteger("THREADS", "T" + n + "X", 0),
                    project.ReadInteger("THREADS", "T" + n + "Y", 0)};
  }
  return positions;
}

TEST(DownloadEndToEnd, ACompleteRunLeavesTilesFilesAndPositions) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  const StartInputs in = ExampleInputs(dir);
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.controller.Running());
  EXPECT_EQ(rig.view.totalLabel, "Total images: 12");
  ASSERT_TRUE(rig.RunToEnd());

  ExpectEveryTileStored(in, "newtask");
  EXPECT_EQ(server.RequestCount(), 12u);
  const std::string folder = in.Folder + "/";
  EXPECT_EQ(qm::ReadWholeFile(folder + "newtask_failed.ftl"), "");
  EXPECT_EQ(qm::SplitTextLines(qm::ReadWholeFile(folder + "newtask_list.txt")).size(), 13u);

  const auto log = qm::SplitTextLines(qm::ReadWholeFile(folder + "newtask_log.txt"));
  ASSERT_GE(log.size(), 7u);
  const std::vector<std::string> tail(log.end() - 7, log.end());
  EXPECT_EQ(tail[0], "");
  EXPECT_EQ(tail[1], std::string(32, '-'));
  EXPECT_EQ(tail[2], "Task Stoped!");
  EXPECT_EQ(tail[4].rfind("Now time:", 0), 0u);
  EXPECT_EQ(tail[6], "Log file has been saved as " + folder + "newtask_log.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), "T3 Finished."), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "T2:seq=9,kv_2414_3080_13.jpg OK"), 1);

  // Each worker's last tile: the largest sequence number of its share.
  const auto positions = StoredPositions(folder + "newtask.qmtp");
  const TileRange range{kMinX, kMinY, kMaxX, kMaxY};
  for (int i = 0; i < 8; ++i) {
    int64_t last = 0;
    for (int64_t s = 1; s <= 12; ++s) if (s % 8 == i) last = s;
    const auto [x, y] = positions.at(i);
    EXPECT_EQ(TileSequenceNumber(range, x, y), last) << "worker " << i;
  }
  EXPECT_EQ(rig.view.messages, std::vector<std::string>{"Task stoped!" + std::string(20, ' ')});
  EXPECT_EQ(rig.view.caption, "Start");
  EXPECT_FALSE(rig.view.timerEnabled);
}

TEST(DownloadEndToEnd, AStoppedRunIsContinuedWithoutAskingForFinishedTilesAgain) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server, DownloadPauses{0, 150, 0, 0, 0});
  const StartInputs in = ExampleInputs(dir);
  ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 6));
  rig.controller.BitBtn1Click(in);  // Stop
  ASSERT_TRUE(rig.RunToEnd());
  const std::string project = in.Folder + "/newtask.qmtp";
  const auto positions = StoredPositions(project);
  const size_t firstRunRequests = server.RequestCount();
  ASSERT_LT(firstRunRequests, 12u);

  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.controller.CurrentParams() != nullptr);
  EXPECT_TRUE(rig.controller.CurrentParams()->Resume);
  ASSERT_TRUE(rig.RunToEnd());
  ExpectEveryTileStored(in, "newtask");

  const TileRange range{kMinX, kMinY, kMaxX, kMaxY};
  for (int x = kMinX; x <= kMaxX; ++x) {
    for (int y = kMinY; y <= kMaxY; ++y) {
      const int64_t seq = TileSequenceNumber(range, x, y);
      const auto [rx, ry] = positions.at(static_cast<int>(seq % 8));
      const bool finishedBefore = rx != 0 && ry != 0 && seq <= ResumeSequence(range, rx, ry);
      if (finishedBefore) {
        EXPECT_EQ(server.RequestsFor(TilePath(x, y)).size(), 1u) << x << "," << y;
      }
    }
  }
  const auto log = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/newtask_log.txt"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "Log continue..."), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Start downloading..."), 1);

  // One coordinate typed differently (the same number) starts anew.
  StartInputs changed = in;
  changed.LeftLongitude = "-74.0";
  EXPECT_FALSE(rig.StartResumesAndEnds(changed));
  EXPECT_FALSE(rig.controller.Running());
  // A task name typed without its extension never continues.
  StartInputs noExtension = in;
  noExtension.TaskName = "newtask";
  EXPECT_FALSE(rig.StartResumesAndEnds(noExtension));
  EXPECT_EQ(rig.controller.CurrentParams()->TaskName, "newtask.qmtp");
}

// Every fifth tick saves the position of every running worker: a position left out would make
// that worker fetch its whole share again after a crash.
TEST(DownloadEndToEnd, AFiveTickSaveRecordsEveryRunningWorker) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server, DownloadPauses{0, 60000, 0, 0, 0});  // each stops after a tile
  const StartInputs in = ExampleInputs(dir);
  rig.controller.BitBtn1Click(in);
  const auto storedLines = [&] {
    return std::count_if(rig.view.log.begin(), rig.view.log.end(),
                         [](const std::string& l) { return l.ends_with(" OK"); });
  };
  ASSERT_TRUE(rig.bridge.PumpUntil([&] { return storedLines() == 8; }, std::chrono::seconds(10)));
  // Each worker records its tile right after its line; a few saves allow for that last step.
  const TileRange range{kMinX, kMinY, kMaxX, kMaxY};
  std::map<int, std::pair<int, int>> expected;
  for (int i = 0; i < 8; ++i) {
    const int seq = i == 0 ? 8 : i;
    expected[i] = {kMinX + (seq - 1) / 4, kMinY + (seq - 1) % 4};
    ASSERT_EQ(TileSequenceNumber(range, expected[i].first, expected[i].second), seq);
  }
  std::map<int, std::pair<int, int>> stored;
  for (int save = 0; save < 50 && stored != expected; ++save) {
    for (int tick = 0; tick < 5; ++tick) rig.controller.Timer1Timer();
    stored = StoredPositions(in.Folder + "/newtask.qmtp");
    if (stored != expected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(rig.controller.RunningThreads(), 8);
}

// Runs a download in this (forked) process, ticking fast, until killed. The tile server's port
// arrives through the pipe: the child is forked before the server starts any thread.
[[noreturn]] void RunDownloadUntilKilled(const TempDir& dir, int portPipe, const StartInputs& in) {
  uint16_t port = 0;
  if (read(portPipe, &port, sizeof port) != sizeof port) _exit(2);
  ControllerRig rig(dir, "127.0.0.1:" + std::to_string(port), DownloadPauses{0, 100, 0, 0, 0});
  rig.controller.BitBtn1Click(in);
  for (int i = 0; i < 3000; ++i) {
    rig.bridge.PumpUntil([] { return false; }, std::chrono::milliseconds(10));
    rig.controller.Timer1Timer();
  }
  _exit(0);
}

TEST(DownloadEndToEnd, AKilledProcessLeavesAProjectThatCompletes) {
  TempDir dir;
  const StartInputs in = ExampleInputs(dir);
  int portPipe[2];
  ASSERT_EQ(pipe(portPipe), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) RunDownloadUntilKilled(dir, portPipe[0], in);
  TestServer server;
  const uint16_t port = server.Port();
  ASSERT_EQ(write(portPipe[1], &port, sizeof port), static_cast<ssize_t>(sizeof port));
  close(portPipe[0]);
  close(portPipe[1]);

  // Kill it once a save has recorded some progress and more tiles are under way.
  const std::string project = in.Folder + "/newtask.qmtp";
  bool saved = false;
  for (int i = 0; i < 2000 && !saved; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    saved = qm::FileExists(project) && StoredPositions(project).at(1).first != 0;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(saved);

  ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(in);
  EXPECT_TRUE(rig.controller.CurrentParams()->Resume);
  ASSERT_TRUE(rig.RunToEnd());
  ExpectEveryTileStored(in, "newtask");
  EXPECT_EQ(qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/newtask_list.txt")).size(), 13u);
  EXPECT_EQ(qm::IniFile(project).ReadInteger("Zoom", "Zoom", 0), 13);
  for (const auto& entry : std::filesystem::directory_iterator(in.Folder)) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "temporary file left: " << entry.path();
  }
}

TEST(DownloadEndToEnd, ClosingDuringADownloadStopsWaitsAndSaves) {
  TempDir dir;
  TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Ok("slow").Delayed(3000));
  ControllerRig rig(dir, server);
  const StartInputs in = ExampleInputs(dir);
  ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 8));
  rig.controller.ShutDown([&] { rig.bridge.Pump(); });
  EXPECT_FALSE(rig.controller.Running());
  EXPECT_TRUE(rig.view.messages.empty());  // no message box on the way out
  const auto log = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/newtask_log.txt"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "Task Stoped!"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "T8 Finished."), 1);
  // An aborted tile does not count as finished.
  for (const auto& [index, position] : StoredPositions(in.Folder + "/newtask.qmtp")) {
    EXPECT_EQ(position, std::make_pair(0, 0)) << index;
  }
}

}  // namespace
