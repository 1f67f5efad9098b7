// The failure table of a tile fetch with a scripted stand-in for the client: rows, repeats,
// pauses, outcomes and their lines in both windows.
#include "download/tile_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <vector>

#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kUrl = "http://tiles.test/maptiler/v2/maptile/newest/satellite.day/13/2412/3080/256/png8";
const std::string kReset = "Socket Error # 10054\r\nConnection reset by peer.";
const std::string kClosed = "Connection Closed Gracefully.";
const std::string kInUse = "Socket Error # 10048\r\nAddress already in use.";
const std::string kRefused = "Socket Error # 10061\r\nConnection refused.";

struct Reply {
  bool ok;
  std::string message;
  std::string body;  // written into the buffer whatever the result, like an error page
  std::chrono::milliseconds elapsed{1};
};

Reply Ok(std::string body = "tile") { return {true, "", std::move(body)}; }
Reply Fail(std::string message) { return {false, std::move(message), "<error page>"}; }
// A server that drips: the attempt ends at its time limit.
Reply Dripped() { return {false, "Socket Error # 10060\r\nConnection timed out.", "ddd", std::chrono::milliseconds{-1}}; }

class FakeWorker : public TileFetchWorker {
 public:
  std::deque<Reply> replies;
  std::vector<std::string> log, failed;
  std::vector<int> pauses;
  std::vector<std::chrono::milliseconds> limits;
  int requests = 0;
  bool abortAfterRequest = false;
  std::pair<int32_t, int32_t> last{0, 0};

  qm::HttpResult Get(const std::string& url, std::string& body, std::chrono::milliseconds limit) override {
    EXPECT_EQ(url, kUrl);
    EXPECT_EQ(body, "") << "every attempt starts with an empty buffer";
    ++requests;
    limits.push_back(limit);
    if (abortAfterRequest) aborted = true;
    if (replies.empty()) return {false, "script exhausted"};
    Reply r = replies.front();
    replies.pop_front();
    body += r.body;
    qm::HttpResult result{r.ok, r.message};
    result.elapsed = r.elapsed.count() < 0 ? limit : r.elapsed;
    return result;
  }
  void AddLog(const std::string& line) override { log.push_back(line); }
  void AddFailed(const std::string& line) override { failed.push_back(line); }
  void Pause(int ms) override { pauses.push_back(ms); }
  bool Aborted() const override { return aborted; }
  void SetLastPosition(int32_t x, int32_t y) override { last = {x, y}; }
  struct Ended {
    FetchOutcome outcome;
    bool image;
    size_t logLinesThen;
    size_t pausesThen;
  };
  void TileEnded(FetchOutcome outcome, bool image) override {
    ended.push_back({outcome, image, log.size(), pauses.size()});
  }

  bool aborted = false;
  std::vector<Ended> ended;
};

class TileFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tile.x = 2412;
    tile.y = 3080;
    tile.sequence = 7;
    tile.url = kUrl;
    tile.fileName = "kv_2412_3080_13.jpg";
    tile.filePath = dir.File(tile.fileName);
    settings.workerNumber = 2;
    settings.blankPath = dir.File("blank.jpg");
    settings.pauses = DownloadPauses{};  // the real values: Pause only records them here
    qm::WriteFileAtomic(settings.blankPath, "BLANK");
  }

  FetchOutcome Run(std::vector<Reply> replies) {
    worker.replies.assign(replies.begin(), replies.end());
    return FetchTile(worker, settings, tile);
  }

  std::string TileContent() const { return qm::ReadWholeFile(tile.filePath); }
  std::string FailedLine() const { return tile.filePath + "|" + kUrl; }

  TempDir dir;
  TileJob tile;
  TileFetchSettings settings;
  FakeWorker worker;
};

TEST(FailureRowTest, FirstMatchingRowWins) {
  const std::pair<std::string, FailureRow> cases[] = {
      {kReset, FailureRow::kConnectionBroken},
      {kClosed, FailureRow::kConnectionBroken},
      {kInUse, FailureRow::kAddressInUse},
      {"HTTP/1.1 302 Found", FailureRow::kRefusal},
      {"HTTP/1.1 403 Forbidden", FailureRow::kRefusal},
      {kRefused, FailureRow::kSocketError},
      {"Socket Error # 10060\r\nConnection timed out.", FailureRow::kSocketError},
      {"Socket Error # 11001\r\nHost not found.", FailureRow::kSocketError},
      {"HTTP/1.1 404 Not Found", FailureRow::kNotFound},
      {"HTTP/1.1 400 Bad Request", FailureRow::kNotFound},
      {"HTTP/1.1 500 Internal Server Error", FailureRow::kOtherFailure},
      {"HTTP/1.1 301 Moved Permanently", FailureRow::kOtherFailure},
      {"HTTP/1.1 307 Temporary Redirect", FailureRow::kOtherFailure},
      {"HTTP/1.1 407 Proxy Authentication Required", FailureRow::kOtherFailure},
      {"Answer body exceeds the limit of 8 MiB.", FailureRow::kOtherFailure},
      {"Request aborted.", FailureRow::kOtherFailure},
      {"connection closed gracefully", FailureRow::kOtherFailure},  // case matters
      {"", FailureRow::kNoMessage},
  };
  for (const auto& [message, row] : cases) EXPECT_EQ(ClassifyFailure(message), row) << message;
}

TEST_F(TileFetchTest, StoredAnswerIsWrittenLoggedAndFollowedByItsPause) {
  qm::WriteFileAtomic(tile.filePath, "old content");
  EXPECT_EQ(Run({Ok("PNG")}), FetchOutcome::kStored);
  EXPECT_EQ(TileContent(), "PNG");
  EXPECT_EQ(worker.log, std::vector<std::string>{"T2:seq=7,kv_2412_3080_13.jpg OK"});
  EXPECT_TRUE(worker.failed.empty());
  EXPECT_EQ(worker.pauses, std::vector<int>{1000});
  EXPECT_EQ(worker.last, std::make_pair(2412, 3080));
}

TEST_F(TileFetchTest, StoredAfterFailuresHoldsOnlyTheLastAnswer) {
  EXPECT_EQ(Run({Fail(kClosed), Fail("HTTP/1.1 403 Forbidden"), Ok("")}), FetchOutcome::kStored);
  EXPECT_EQ(TileContent(), "");
  EXPECT_EQ(worker.pauses, (std::vector<int>{1000, 1000}));
}

TEST_F(TileFetchTest, RefusalAtTheThirdAttemptCountsEarlierResets) {
  EXPECT_EQ(Run({Fail(kReset), Fail(kClosed), Fail("HTTP/1.1 403 Forbidden")}),
            FetchOutcome::kRefused);
  EXPECT_EQ(worker.log, (std::vector<std::string>{
                            "T2 HTTP/1.1 403 Forbidden->" + kUrl,
                            "Error: may be your IP is banned.\nPlease try again later."}));
  EXPECT_EQ(worker.failed, std::vector<std::string>{FailedLine()});
  EXPECT_EQ(worker.pauses, std::vector<int>{1000}) << "only the first repeat after a broken connection is at once";
  EXPECT_FALSE(std::filesystem::exists(tile.filePath));
  EXPECT_EQ(worker.last, std::make_pair(0, 0));
  EXPECT_TRUE(EndsWorker(FetchOutcome::kRefused));
}

TEST_F(TileFetchTest, AddressInUseWaitsLongAndIsRepeatedBeyondThreeAttempts) {
  EXPECT_EQ(Run({Fail(kInUse), Fail(kInUse), Fail(kInUse), Fail(kInUse), Ok()}),
            FetchOutcome::kStored);
  EXPECT_EQ(worker.pauses, (std::vector<int>{8000, 8000, 8000, 8000, 1000}));
  EXPECT_EQ(worker.requests, 5);
}

TEST_F(TileFetchTest, ConnectionRepeatsAreBoundedAndThenEndAsNetworkFailure) {
  std::vector<Reply> replies;
  for (int i = 0; i < 6; ++i) replies.push_back(Fail(kReset));
  for (int i = 0; i < 6; ++i) replies.push_back(Fail(kInUse));
  EXPECT_EQ(Run(replies), FetchOutcome::kNetworkFailure);
  EXPECT_EQ(worker.requests, kMaxConnectionRepeats + 1);
  // The first repeat goes at once, the others at the pace of stored tiles: a server whose answers
  // all break is not asked eleven times in a few milliseconds.
  EXPECT_EQ(worker.pauses, (std::vector<int>{1000, 1000, 1000, 1000, 1000, 8000, 8000, 8000, 8000}));
  EXPECT_EQ(worker.log, (std::vector<std::string>{
                            "T2 " + kInUse + "->" + kUrl,
                            "Error: Your network has problem, please check it."}));
  EXPECT_EQ(worker.failed, std::vector<std::string>{FailedLine()});
  EXPECT_EQ(worker.last, std::make_pair(0, 0));
}

TEST_F(TileFetchTest, ATilesAttemptsShareOneRequestTimeLimit) {
  // A server that drips: the first attempt may take the whole limit, the later ones the floor.
  EXPECT_EQ(Run({Dripped(), Dripped(), Dripped()}), FetchOutcome::kNetworkFailure);
  EXPECT_EQ(worker.limits, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(120), std::chrono::seconds(5),
                                                                   std::chrono::seconds(5)}));
  // Attempts that end early leave the rest of the limit to the next.
  worker.limits.clear();
  Reply slowRefusal = Fail(kRefused);
  slowRefusal.elapsed = std::chrono::seconds(30);
  EXPECT_EQ(Run({slowRefusal, slowRefusal, Ok()}), FetchOutcome::kStored);
  EXPECT_EQ(worker.limits, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(120), std::chrono::seconds(90),
                                                                   std::chrono::seconds(60)}));
}

TEST_F(TileFetchTest, SocketErrorsPauseTwiceThenEndTheWorker) {
  EXPECT_EQ(Run({Fail(kRefused), Fail(kRefused), Fail(kRefused)}),
            FetchOutcome::kNetworkFailure);
  EXPECT_EQ(worker.pauses, (std::vector<int>{2000, 2000}));
  EXPECT_EQ(worker.log, (std::vector<std::string>{
                            "T2 " + kRefused + "->" + kUrl,
                            "Error: Your network has problem, please check it."}));
  EXPECT_EQ(worker.failed, std::vector<std::string>{FailedLine()});
  EXPECT_FALSE(std::filesystem::exists(tile.filePath));
}

TEST_F(TileFetchTest, NotFoundGetsTheBlankWithoutFailedLine) {
  EXPECT_EQ(Run({Fail("HTTP/1.1 404 Not Found"), Fail("HTTP/1.1 400 Bad Request"),
                 Fail("HTTP/1.1 404 Not Found")}),
            FetchOutcome::kNotFound);
  EXPECT_EQ(worker.log, (std::vector<std::string>{
                            "Error: the image is not found on server.HTTP/1.1 404 Not Found",
                            "T2:2412-3080 got a blank image!"}));
  EXPECT_TRUE(worker.failed.empty());
  EXPECT_EQ(worker.pauses, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(TileContent(), "BLANK");
  EXPECT_EQ(worker.last, std::make_pair(2412, 3080));
  EXPECT_FALSE(EndsWorker(FetchOutcome::kNotFound));
}

TEST_F(TileFetchTest, OtherFailureIsRecordedAndKeepsAnExistingTile) {
  qm::WriteFileAtomic(tile.filePath, "earlier tile");
  EXPECT_EQ(Run({Fail("HTTP/1.1 500 Internal Server Error"), Fail("HTTP/1.1 500 Internal Server Error"),
                 Fail("HTTP/1.1 500 Internal Server Error")}),
            FetchOutcome::kFailed);
  EXPECT_EQ(worker.log, (std::vector<std::string>{
                            "T2 HTTP/1.1 500 Internal Server Error->" + kUrl,
                            "T2:2412-3080 got a blank image!"}));
  EXPECT_EQ(worker.failed, std::vector<std::string>{FailedLine()});
  EXPECT_EQ(TileContent(), "earlier tile");
  EXPECT_EQ(worker.last, std::make_pair(2412, 3080));
}

TEST_F(TileFetchTest, FailureWithoutMessageHasItsOwnLine) {
  EXPECT_EQ(Run({Fail(""), Fail(""), Fail("")}), FetchOutcome::kFailedWithoutMessage);
  EXPECT_EQ(worker.log, (std::vector<std::string>{"kv_2412_3080_13.jpg:failed ->" + kUrl,
                                                  "T2:2412-3080 got a blank image!"}));
  EXPECT_EQ(worker.failed, std::vector<std::string>{FailedLine()});
  EXPECT_EQ(worker.pauses, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(TileContent(), "BLANK");
}

TEST_F(TileFetchTest, UnwritableTileEndsLikeANetworkFailureWithTheFileMessage) {
  std::filesystem::create_directory(tile.filePath);  // a folder where the file should go
  EXPECT_EQ(Run({Ok("PNG")}), FetchOutcome::kStoreFailed);
  EXPECT_EQ(worker.log, std::vector<std::string>{"T2 Unable to write to " + tile.filePath +
                                                 "->" + kUrl});
  EXPECT_EQ(worker.failed, std::vector<std::string>{FailedLine()});
  EXPECT_TRUE(worker.pauses.empty());
  EXPECT_EQ(worker.last, std::make_pair(0, 0));
  EXPECT_TRUE(EndsWorker(FetchOutcome::kStoreFailed));
}

TEST_F(TileFetchTest, AbortedRequestEndsTheTileSilently) {
  worker.abortAfterRequest = true;
  EXPECT_EQ(Run({Fail("Request aborted.")}), FetchOutcome::kAborted);
  EXPECT_EQ(worker.requests, 1);
  EXPECT_TRUE(worker.log.empty());
  EXPECT_TRUE(worker.failed.empty());
  EXPECT_EQ(worker.last, std::make_pair(0, 0));
  EXPECT_TRUE(EndsWorker(FetchOutcome::kAborted));
}

TEST_F(TileFetchTest, EachTileEndsOnceAndAStoredOneBeforeItsLogLineAndPause) {
  EXPECT_EQ(Run({Ok("\xFF\xD8\xFF\xE0 jpeg")}), FetchOutcome::kStored);
  EXPECT_EQ(Run({Ok("<html>Sign in</html>")}), FetchOutcome::kStored);
  EXPECT_EQ(Run({Fail("HTTP/1.1 404 Not Found"), Fail("HTTP/1.1 404 Not Found"), Fail("HTTP/1.1 404 Not Found")}),
            FetchOutcome::kNotFound);
  ASSERT_EQ(worker.ended.size(), 3u);
  EXPECT_EQ(worker.ended[0].outcome, FetchOutcome::kStored);
  EXPECT_TRUE(worker.ended[0].image);
  EXPECT_EQ(worker.ended[0].logLinesThen, 0u);
  EXPECT_EQ(worker.ended[0].pausesThen, 0u);
  EXPECT_FALSE(worker.ended[1].image);
  EXPECT_EQ(worker.ended[2].outcome, FetchOutcome::kNotFound);
}

}  // namespace
