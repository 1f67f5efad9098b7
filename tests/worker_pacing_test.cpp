// Workers with the program's real pauses: starts staggered by index, stored tiles a second apart.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

using qmtest::TestServer;
using qmtest::WorkerHarness;

TEST(WorkerPacingTest, RealPausesStaggerStartsAndSpaceStoredTiles) {
  TestServer server;
  constexpr int kWorkers = 3;
  WorkerHarness run(server.HostPort(), 1, 2 * kWorkers, kWorkers);  // two tiles per worker
  auto start = std::chrono::steady_clock::now();
  run.Start(DownloadPauses{});
  ASSERT_TRUE(run.WaitUntilDone());
  ASSERT_EQ(run.host.log.size(), 3u * kWorkers);

  // Sequence s (row MinY + s - 1) belongs to worker s % kWorkers.
  std::map<int, std::vector<std::chrono::steady_clock::time_point>> times;
  for (const auto& r : server.Requests()) {
    for (int s = 1; s <= 2 * kWorkers; ++s) {
      if (r.path == TestServer::TilePath(WorkerHarness::kZoom, WorkerHarness::kMinX,
                                         WorkerHarness::kMinY + s - 1)) {
        times[s % kWorkers].push_back(r.time);
      }
    }
  }
  for (int i = 0; i < kWorkers; ++i) {
    ASSERT_EQ(times[i].size(), 2u) << "worker " << i;
    EXPECT_GE(times[i][0] - start, std::chrono::milliseconds(100 * i)) << "worker " << i;
    EXPECT_GE(times[i][1] - times[i][0], std::chrono::milliseconds(1000)) << "worker " << i;
  }
}

}  // namespace
