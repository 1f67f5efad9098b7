// Workers over a whole task: division of tiles, resume points, a refusal ending one worker,
// Stop, abort at exit and a client that cannot be set up.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;
using qmtest::WorkerHarness;
using Lines = std::vector<std::string>;

constexpr int32_t kX = WorkerHarness::kMinX;
constexpr int32_t kY = WorkerHarness::kMinY;

std::string PathOf(int32_t x, int32_t y) {
  return TestServer::TilePath(WorkerHarness::kZoom, x, y);
}

std::multiset<std::string> RequestedPaths(const TestServer& server) {
  std::multiset<std::string> paths;
  for (const auto& r : server.Requests()) paths.insert(r.path);
  return paths;
}

int Count(const Lines& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST(WorkerWalkTest, ThreeTilesAreSharedByThreeWorkers) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 1, 3, 3);
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.LogOf(1), (Lines{"T1:seq=3,kv_2412_3082_13.jpg OK", "T1 Finished."}));
  EXPECT_EQ(run.LogOf(2), (Lines{"T2:seq=1,kv_2412_3080_13.jpg OK", "T2 Finished."}));
  EXPECT_EQ(run.LogOf(3), (Lines{"T3:seq=2,kv_2412_3081_13.jpg OK", "T3 Finished."}));
  EXPECT_EQ(run.host.log.size(), 6u);
  EXPECT_EQ(RequestedPaths(server),
            (std::multiset<std::string>{PathOf(kX, kY), PathOf(kX, kY + 1), PathOf(kX, kY + 2)}));
  EXPECT_EQ(std::set<int>(run.host.done.begin(), run.host.done.end()), (std::set<int>{0, 1, 2}));
  EXPECT_EQ(run.host.done.size(), 3u);
  EXPECT_EQ(run.workers[0]->LastPosition(), std::make_pair(kX, kY + 2));
  EXPECT_EQ(run.workers[1]->LastPosition(), std::make_pair(kX, kY));
}

TEST(WorkerWalkTest, EightWorkersCoverEveryTileOnceInColumnOrder) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 3, 7, 8);  // 21 tiles
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  std::multiset<std::string> expected;
  for (int32_t x = kX; x < kX + 3; ++x) {
    for (int32_t y = kY; y < kY + 7; ++y) expected.insert(PathOf(x, y));
  }
  EXPECT_EQ(RequestedPaths(server), expected);
  // Worker 0 ("T1") takes 8 and 16: column 1 row 0, column 2 row 1.
  EXPECT_EQ(run.LogOf(1), (Lines{"T1:seq=8,kv_2413_3080_13.jpg OK",
                                 "T1:seq=16,kv_2414_3081_13.jpg OK", "T1 Finished."}));
  EXPECT_EQ(run.LogOf(8), (Lines{"T8:seq=7,kv_2412_3086_13.jpg OK",
                                 "T8:seq=15,kv_2414_3080_13.jpg OK", "T8 Finished."}));
}

TEST(WorkerWalkTest, ResumeSkipsTheWorkersFinishedTiles) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 2, 10, 8);  // 20 tiles, 10 rows high
  run.task->ResumeX[5] = kX;
  run.task->ResumeY[5] = kY + 4;  // sequence 5
  run.Start(DownloadPauses::Zero(), {5});
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (Lines{"T6:seq=13,kv_2413_3082_13.jpg OK", "T6 Finished."}));
  EXPECT_EQ(RequestedPaths(server), std::multiset<std::string>{PathOf(kX + 1, kY + 2)});
}

TEST(WorkerWalkTest, StoredPositionWithAZeroIsIgnored) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 2, 10, 8);
  run.task->ResumeX[5] = kX;
  run.task->ResumeY[5] = 0;
  run.Start(DownloadPauses::Zero(), {5});
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (Lines{"T6:seq=5,kv_2412_3084_13.jpg OK",
                                 "T6:seq=13,kv_2413_3082_13.jpg OK", "T6 Finished."}));
}

TEST(WorkerWalkTest, WorkerWithEverythingDoneRequestsNothing) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 2, 10, 8);
  run.task->ResumeX[5] = kX + 1;
  run.task->ResumeY[5] = kY + 2;  // sequence 13, the worker's last tile
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.startStepMs = 20;
  auto start = std::chrono::steady_clock::now();
  run.Start(pauses, {5});
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(run.host.log, Lines{"T6 Finished."});
  EXPECT_EQ(run.host.done, std::vector<int>{5});
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(WorkerWalkTest, RefusalEndsOneWorkerWhileTheOthersGoOn) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 1, 6, 2);
  // Worker 0 ("T1") takes sequences 2, 4, 6; sequence 2 is refused.
  server.Script(PathOf(kX, kY + 1), {ScriptedAnswer::Status(403), ScriptedAnswer::Status(403),
                                     ScriptedAnswer::Status(403)});
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  std::string url = run.Url(kX, kY + 1);
  EXPECT_EQ(run.LogOf(1), (Lines{"T1 HTTP/1.1 403 Forbidden->" + url, "T1 Finished."}));
  EXPECT_EQ(Count(run.host.log, "Error: may be your IP is banned.\nPlease try again later."), 1);
  EXPECT_EQ(run.LogOf(2), (Lines{"T2:seq=1,kv_2412_3080_13.jpg OK",
                                 "T2:seq=3,kv_2412_3082_13.jpg OK",
                                 "T2:seq=5,kv_2412_3084_13.jpg OK", "T2 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{run.FilePath(kX, kY + 1) + "|" + url});
  EXPECT_TRUE(server.RequestsFor(PathOf(kX, kY + 3)).empty());
  EXPECT_TRUE(server.RequestsFor(PathOf(kX, kY + 5)).empty());
  EXPECT_EQ(run.workers[0]->LastPosition(), std::make_pair(0, 0));
}

TEST(WorkerWalkTest, StopLetsEachWorkerFinishItsTileThenEnd) {
  TestServer server;
  server.SetFallback(ScriptedAnswer::Status(200).Delayed(100));
  WorkerHarness run(server.HostPort(), 4, 10, 3);  // 40 tiles
  run.Start();
  ASSERT_TRUE(server.WaitForRequests(3, std::chrono::seconds(10)));
  for (auto& worker : run.workers) worker->Terminate();
  ASSERT_TRUE(run.WaitUntilDone());

  std::size_t requests = server.RequestCount();
  EXPECT_LT(requests, 40u);
  std::size_t stored = 0;
  for (int n = 1; n <= 3; ++n) {
    Lines lines = run.LogOf(n);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "T" + std::to_string(n) + " Finished.");
    EXPECT_EQ(Count(lines, lines.back()), 1);
    stored += lines.size() - 1;
  }
  // Every tile that was asked for was carried to its end and stored.
  EXPECT_EQ(stored, requests);
  EXPECT_EQ(run.host.done.size(), 3u);
}

TEST(WorkerWalkTest, AbortAtExitDropsTheTileInFlight) {
  TestServer server;
  server.SetFallback(ScriptedAnswer::Status(200).Delayed(60000));
  WorkerHarness run(server.HostPort(), 1, 2, 1);
  run.Start();
  ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(10)));
  run.workers[0]->AbortRequests();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, Lines{"T1 Finished."});
  EXPECT_TRUE(run.host.failed.empty());
  EXPECT_EQ(run.host.done, std::vector<int>{0});
  EXPECT_EQ(run.workers[0]->LastPosition(), std::make_pair(0, 0));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(WorkerWalkTest, AbortAtExitCutsThePauseShort) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 1, 2, 1);
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.afterStoredMs = 60000;
  run.Start(pauses);
  ASSERT_TRUE(run.PumpUntil([&] { return !run.host.log.empty(); }));
  run.workers[0]->AbortRequests();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (Lines{"T1:seq=1,kv_2412_3080_13.jpg OK", "T1 Finished."}));
  EXPECT_EQ(run.workers[0]->LastPosition(), std::make_pair(kX, kY));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(WorkerWalkTest, ProxyPortThatIsNotANumberEndsTheWorker) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 1, 2, 1);
  run.params.UseProxy = true;
  run.params.ProxyServer = "127.0.0.1";
  run.params.ProxyPort = "80a";
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (Lines{"T1 Proxy port is not a number: 80a", "T1 Finished."}));
  EXPECT_EQ(run.host.done, std::vector<int>{0});
  EXPECT_EQ(server.RequestCount(), 0u);
}

}  // namespace

namespace {

TEST(WorkerWalkTest, ProxyPortOutOfRangeEndsTheWorkerWithItsOwnLine) {
  for (const char* port : {"0", "-1", "70000"}) {
    TestServer server;
    WorkerHarness run(server.HostPort(), 1, 1, 1);
    run.params.UseProxy = true;
    run.params.ProxyServer = "127.0.0.1";
    run.params.ProxyPort = port;
    run.Start();
    ASSERT_TRUE(run.WaitUntilDone());
    EXPECT_EQ(run.host.log, (Lines{std::string("T1 Proxy port is out of range: ") + port, "T1 Finished."}));
    EXPECT_EQ(server.RequestCount(), 0u);
  }
}

}  // namespace
