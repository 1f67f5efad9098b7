// One worker, one tile, real client against the local server: every outcome of the failure
// table with the exact lines in both windows and the tile file it leaves.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_ops.h"
#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;
using qmtest::WorkerHarness;
using Lines = std::vector<std::string>;

constexpr int32_t kX = WorkerHarness::kMinX;
constexpr int32_t kY = WorkerHarness::kMinY;
const std::string kPath = TestServer::TilePath(WorkerHarness::kZoom, kX, kY);

class WorkerFetchTest : public ::testing::Test {
 protected:
  // Runs a single-tile task with one worker.
  void RunOneTile(std::vector<ScriptedAnswer> answers,
                  DownloadPauses pauses = DownloadPauses::Zero()) {
    server.Script(kPath, std::move(answers));
    run.Start(pauses);
    ASSERT_TRUE(run.WaitUntilDone());
  }
  std::string Url() const { return run.Url(kX, kY); }
  std::string FailedLine() const { return run.FilePath(kX, kY) + "|" + Url(); }
  std::string TileContent() const { return qm::ReadWholeFile(run.FilePath(kX, kY)); }
  bool TileExists() const { return std::filesystem::exists(run.FilePath(kX, kY)); }
  std::pair<int32_t, int32_t> Last() const { return run.workers.at(0)->LastPosition(); }

  TestServer server;
  WorkerHarness run{server.HostPort(), 1, 1, 1};
};

TEST_F(WorkerFetchTest, StoredTile) {
  RunOneTile({ScriptedAnswer::Status(200)});
  EXPECT_EQ(run.host.log, (Lines{"T1:seq=1,kv_2412_3080_13.jpg OK", "T1 Finished."}));
  EXPECT_TRUE(run.host.failed.empty());
  EXPECT_EQ(run.host.done, std::vector<int>{0});
  EXPECT_EQ(TileContent(), TestServer::DefaultBody(kPath));
  EXPECT_EQ(Last(), std::make_pair(kX, kY));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, kPath);
  EXPECT_FALSE(requests[0].Header("Referer"));
  EXPECT_FALSE(requests[0].Header("User-Agent"));
  EXPECT_FALSE(requests[0].Header("Cookie"));
}

TEST_F(WorkerFetchTest, EmptyBodyIsStoredAsEmptyFileAndReplacesAnOldTile) {
  qm::WriteFileAtomic(run.FilePath(kX, kY), "old tile");
  RunOneTile({ScriptedAnswer::Ok("")});
  EXPECT_EQ(run.host.log, (Lines{"T1:seq=1,kv_2412_3080_13.jpg OK", "T1 Finished."}));
  EXPECT_EQ(TileContent(), "");
}

TEST_F(WorkerFetchTest, TwoResetsThenRefusalEndsAtOnce) {
  RunOneTile({ScriptedAnswer::Reset(), ScriptedAnswer::Reset(), ScriptedAnswer::Status(403)});
  EXPECT_EQ(run.host.log, (Lines{"T1 HTTP/1.1 403 Forbidden->" + Url(),
                                 "Error: may be your IP is banned.\nPlease try again later.",
                                 "T1 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{FailedLine()});
  EXPECT_EQ(server.RequestCount(), 3u);
  EXPECT_FALSE(TileExists());
  EXPECT_EQ(Last(), std::make_pair(0, 0));
}

TEST_F(WorkerFetchTest, RefusedTwiceThenStoredWithItsPauses) {
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.retryMs = 150;
  RunOneTile({ScriptedAnswer::Status(403), ScriptedAnswer::Status(403),
              ScriptedAnswer::Status(200)},
             pauses);
  EXPECT_EQ(run.host.log, (Lines{"T1:seq=1,kv_2412_3080_13.jpg OK", "T1 Finished."}));
  EXPECT_TRUE(run.host.failed.empty());
  EXPECT_EQ(TileContent(), TestServer::DefaultBody(kPath)) << "no error page bytes";
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_GE(requests[1].time - requests[0].time, std::chrono::milliseconds(150));
  EXPECT_GE(requests[2].time - requests[1].time, std::chrono::milliseconds(150));
}

TEST_F(WorkerFetchTest, NotFoundThreeTimesGetsTheBlankAndNoFailedLine) {
  RunOneTile({ScriptedAnswer::Status(404), ScriptedAnswer::Status(404),
              ScriptedAnswer::Status(404)});
  EXPECT_EQ(run.host.log, (Lines{"Error: the image is not found on server.HTTP/1.1 404 Not Found",
                                 "T1:2412-3080 got a blank image!", "T1 Finished."}));
  EXPECT_TRUE(run.host.failed.empty());
  EXPECT_EQ(TileContent(), "BLANK");
  EXPECT_EQ(Last(), std::make_pair(kX, kY));
}

TEST_F(WorkerFetchTest, ExistingTileIsKeptWhenTheBlankWouldBeCopied) {
  qm::WriteFileAtomic(run.FilePath(kX, kY), "earlier tile");
  RunOneTile({ScriptedAnswer::Status(400), ScriptedAnswer::Status(400),
              ScriptedAnswer::Status(400)});
  EXPECT_EQ(run.host.log.at(0), "Error: the image is not found on server.HTTP/1.1 400 Bad Request");
  EXPECT_EQ(TileContent(), "earlier tile");
}

TEST_F(WorkerFetchTest, ServerErrorThreeTimesIsRecordedAndGetsTheBlank) {
  RunOneTile({ScriptedAnswer::Status(500), ScriptedAnswer::Status(500),
              ScriptedAnswer::Status(500)});
  EXPECT_EQ(run.host.log, (Lines{"T1 HTTP/1.1 500 Internal Server Error->" + Url(),
                                 "T1:2412-3080 got a blank image!", "T1 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{FailedLine()});
  EXPECT_EQ(TileContent(), "BLANK");
  EXPECT_EQ(Last(), std::make_pair(kX, kY));
  // The failed-tile line comes between the two log lines.
  ASSERT_GE(run.host.events.size(), 3u);
  EXPECT_EQ(run.host.events[1].window, 'F');
}

TEST_F(WorkerFetchTest, MissingBlankLeavesNoFile) {
  std::filesystem::remove(run.programDir.File("blankimg/blank.jpg"));
  RunOneTile({ScriptedAnswer::Status(500), ScriptedAnswer::Status(500),
              ScriptedAnswer::Status(500)});
  EXPECT_EQ(run.host.log.at(1), "T1:2412-3080 got a blank image!");
  EXPECT_FALSE(TileExists());
}

TEST_F(WorkerFetchTest, RedirectsAreNotFollowed) {
  RunOneTile({ScriptedAnswer::Redirect(301, server.Url("/a")),
              ScriptedAnswer::Redirect(307, server.Url("/a")),
              ScriptedAnswer::Redirect(301, server.Url("/a"))});
  EXPECT_EQ(run.host.log, (Lines{"T1 HTTP/1.1 301 Moved Permanently->" + Url(),
                                 "T1:2412-3080 got a blank image!", "T1 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{FailedLine()});
  EXPECT_TRUE(server.RequestsFor("/a").empty());
}

TEST_F(WorkerFetchTest, FoundRedirectCountsAsRefusal) {
  RunOneTile({ScriptedAnswer::Redirect(302, server.Url("/a")),
              ScriptedAnswer::Redirect(302, server.Url("/a")),
              ScriptedAnswer::Redirect(302, server.Url("/a"))});
  EXPECT_EQ(run.host.log, (Lines{"T1 HTTP/1.1 302 Found->" + Url(),
                                 "Error: may be your IP is banned.\nPlease try again later.",
                                 "T1 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{FailedLine()});
  EXPECT_TRUE(server.RequestsFor("/a").empty());
}

TEST_F(WorkerFetchTest, BrokenAnswersAreRepeatedAndNeverStored) {
  RunOneTile({ScriptedAnswer::PartialBody("GARBAGE", 100), ScriptedAnswer::CloseWithoutAnswer(),
              ScriptedAnswer::UnfinishedHeaders(), ScriptedAnswer::Ok("tile")});
  EXPECT_EQ(run.host.log, (Lines{"T1:seq=1,kv_2412_3080_13.jpg OK", "T1 Finished."}));
  EXPECT_EQ(TileContent(), "tile");
  EXPECT_EQ(server.RequestCount(), 4u);
}

TEST_F(WorkerFetchTest, EndlessResetsEndAsNetworkFailureAfterTheBound) {
  server.SetFallback(ScriptedAnswer::Reset());
  RunOneTile({});
  EXPECT_EQ(server.RequestCount(), static_cast<std::size_t>(kMaxConnectionRepeats + 1));
  EXPECT_EQ(run.host.log,
            (Lines{"T1 Socket Error # 10054\r\nConnection reset by peer.->" + Url(),
                   "Error: Your network has problem, please check it.", "T1 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{FailedLine()});
  EXPECT_EQ(Last(), std::make_pair(0, 0));
}

TEST_F(WorkerFetchTest, UnwritableTileEndsTheWorkerWithTheFileMessage) {
  std::filesystem::create_directory(run.FilePath(kX, kY));
  RunOneTile({ScriptedAnswer::Ok("tile")});
  EXPECT_EQ(run.host.log, (Lines{"T1 Unable to write to " + run.FilePath(kX, kY) + "->" + Url(),
                                 "T1 Finished."}));
  EXPECT_EQ(run.host.failed, Lines{FailedLine()});
  EXPECT_EQ(Last(), std::make_pair(0, 0));
}

TEST(WorkerNetworkTest, UnreachableServerPausesTwiceThenEndsTheWorker) {
  std::string hostPort = "127.0.0.1:" + std::to_string(qmtest::UnusedLocalPort());
  WorkerHarness run(hostPort, 1, 3, 1);
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.socketRetryMs = 100;
  auto start = std::chrono::steady_clock::now();
  run.Start(pauses);
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  std::string url = run.Url(WorkerHarness::kMinX, WorkerHarness::kMinY);
  EXPECT_EQ(run.host.log,
            (Lines{"T1 Socket Error # 10061\r\nConnection refused.->" + url,
                   "Error: Your network has problem, please check it.", "T1 Finished."}));
  EXPECT_EQ(run.host.failed,
            Lines{run.FilePath(WorkerHarness::kMinX, WorkerHarness::kMinY) + "|" + url});
  EXPECT_EQ(run.host.done, std::vector<int>{0});
}

}  // namespace

namespace {

// On a kept-alive connection libcurl sends a request again by itself when the connection turns
// out dead; those requests still count as attempts of the tile.
TEST(WorkerKeptAliveConnection, ResetsOnAReusedConnectionCountAsAttempts) {
  TestServer server;
  WorkerHarness run(server.HostPort(), 1, 2, 1);
  const std::string second = TestServer::TilePath(WorkerHarness::kZoom, kX, kY + 1);
  server.Script(second, {ScriptedAnswer::Reset(), ScriptedAnswer::Reset(), ScriptedAnswer::Status(403),
                         ScriptedAnswer::Status(403)});
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(server.RequestsFor(second).size(), 3u);  // refused at the first 403
  ASSERT_EQ(run.host.log.size(), 4u);
  EXPECT_EQ(run.host.log[1], "T1 HTTP/1.1 403 Forbidden->" + run.Url(kX, kY + 1));
}

}  // namespace

namespace {

// A server whose answers all break (a Content-Length that lies) is asked again at once only the
// first time; after that at the worker's pace between stored tiles.
TEST_F(WorkerFetchTest, AServerLyingAboutItsLengthIsAskedAgainAtTheWorkersPace) {
  server.SetFallback(ScriptedAnswer::PartialBody("short", 100));
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.afterStoredMs = 40;
  RunOneTile({}, pauses);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), static_cast<size_t>(kMaxConnectionRepeats + 1));
  for (size_t i = 2; i < requests.size(); ++i) {
    EXPECT_GE(requests[i].time - requests[i - 1].time, std::chrono::milliseconds(40)) << i;
  }
  EXPECT_EQ(run.host.log.front(), "T1 Connection Closed Gracefully.->" + Url());
}

// Each answer would drip for 100 s: the tile's three attempts share one time limit.
TEST_F(WorkerFetchTest, ADrippingServerCostsATileOneTimeLimitNotOnePerAttempt) {
  server.SetFallback(ScriptedAnswer::Dripping(std::string(1000, 'd'), 100));
  DownloadPauses pauses = DownloadPauses::Zero();
  pauses.tileRequestsMs = 400;
  pauses.laterAttemptMinMs = 100;
  RunOneTile({}, pauses);
  EXPECT_EQ(server.RequestCount(), 3u);
  EXPECT_EQ(run.host.log, (Lines{"T1 Socket Error # 10060\r\nConnection timed out.->" + Url(),
                                 "Error: Your network has problem, please check it.", "T1 Finished."}));
}

}  // namespace
