// A busy server's Retry-After: how it is read, and one worker against the local server waiting
// it out, bounded, stoppable, and leaving the failure table as it was without it.
#include "platform/retry_after.h"

#include <gtest/gtest.h>

#include "engine/tile_server_setting.h"
#include "platform/http_date.h"
#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::WorkerHarness;
using Lines = std::vector<std::string>;

TEST(RetryAfter, SecondsAndDatesAreBoundedAndNonsenseIsNoWait) {
  const std::time_t now = 1'700'000'000;
  EXPECT_EQ(qm::ParseRetryAfter(" 7 ", now), 7);
  EXPECT_EQ(qm::ParseRetryAfter("99999999999999999999", now), qm::kMaxRetryAfterSeconds);
  EXPECT_EQ(qm::ParseRetryAfter(qm::HttpDate(now + 3600), now), qm::kMaxRetryAfterSeconds);
  for (const std::string nothing : {"", "0", "-5", "12abc", "1.5", "Tue, 32 Foo 2023 99:99:99 GMT"}) {
    EXPECT_EQ(qm::ParseRetryAfter(nothing, now), std::nullopt) << nothing;
  }
  EXPECT_EQ(qm::ParseRetryAfter(qm::HttpDate(now), now), std::nullopt) << "a date not in the future";
}

ScriptedAnswer Busy(int status, std::string retryAfter) {
  ScriptedAnswer answer = ScriptedAnswer::Status(status);
  answer.headers.emplace_back("Retry-After", std::move(retryAfter));
  return answer;
}

class WorkerRetryAfterTest : public ::testing::Test {
 protected:
  void Start(std::vector<ScriptedAnswer> answers, int msPerSecond) {
    server.Script(kPath, std::move(answers));
    DownloadPauses pauses = DownloadPauses::Zero();
    pauses.retryAfterMsPerSecond = msPerSecond;
    run.Start(pauses);
  }
  std::string BusyLine(int status, int seconds) const {
    const std::string line = status == 429 ? "HTTP/1.1 429 Too Many Requests" : "HTTP/1.1 503 Service Unavailable";
    return "T1 Server busy (" + line + "): asking again in " + std::to_string(seconds) + " s ->" + MaskedUrl(Url());
  }
  std::string Url() const { return run.Url(WorkerHarness::kMinX, WorkerHarness::kMinY); }
  std::string Stored() const { return "T1:seq=1," + run.FileName(WorkerHarness::kMinX, WorkerHarness::kMinY) + " OK"; }

  const std::string kPath = qmtest::TestServer::TilePath(13, WorkerHarness::kMinX, WorkerHarness::kMinY);
  qmtest::TestServer server;
  WorkerHarness run{server.HostPort(), 1, 1, 1};
};

TEST_F(WorkerRetryAfterTest, SecondsAndAnHttpDateAreWaitedOutThenTheTileIsStored) {
  // At 40 ms a second; the date is read a second or so after it was written.
  Start({Busy(429, "3"), Busy(503, qm::HttpDate(std::time(nullptr) + 5)), ScriptedAnswer::Status(200)}, 40);
  ASSERT_TRUE(run.WaitUntilDone());
  ASSERT_EQ(run.host.log.size(), 4u);
  EXPECT_EQ(run.host.log[0], BusyLine(429, 3));
  EXPECT_TRUE(run.host.log[1] == BusyLine(503, 5) || run.host.log[1] == BusyLine(503, 4)) << run.host.log[1];
  EXPECT_EQ(run.host.log[2], Stored());
  const auto requests = server.RequestsFor(kPath);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_GE(requests[1].time - requests[0].time, std::chrono::milliseconds(120));
}

TEST_F(WorkerRetryAfterTest, WithoutAUsableHeaderTheFailureTableDecidesAsBefore) {
  Start({ScriptedAnswer::Status(503), Busy(503, "soon"), Busy(429, "-5"), ScriptedAnswer::Status(200)}, 1000);
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (Lines{"T1 HTTP/1.1 429 Too Many Requests->" + MaskedUrl(Url()),
                                 "T1:2412-3080 got a blank image!", "T1 Finished."}));
  EXPECT_EQ(server.RequestsFor(kPath).size(), 3u);
}

TEST_F(WorkerRetryAfterTest, WaitsAreBoundedAndCountNoAttempt) {
  // Five waits; the sixth and seventh busy answers are the table's first two attempts.
  std::vector<ScriptedAnswer> answers(qm::kMaxRetryAfterWaits + 2, Busy(429, "1"));
  answers.push_back(ScriptedAnswer::Status(200));
  Start(std::move(answers), 0);
  ASSERT_TRUE(run.WaitUntilDone());
  Lines expected(qm::kMaxRetryAfterWaits, BusyLine(429, 1));
  expected.insert(expected.end(), {Stored(), "T1 Finished."});
  EXPECT_EQ(run.host.log, expected);
}

TEST_F(WorkerRetryAfterTest, StopEndsTheWaitAtOnceAndTheTileStaysUnfinished) {
  Start({Busy(429, "600"), ScriptedAnswer::Status(200)}, 1000);
  ASSERT_TRUE(run.PumpUntil([this] { return !run.host.log.empty(); }));
  run.workers.at(0)->Terminate();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (Lines{BusyLine(429, 600), "T1 Finished."}));
  EXPECT_EQ(run.workers.at(0)->LastPosition(), std::make_pair(0, 0));
}

}  // namespace
