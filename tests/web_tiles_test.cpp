// Browsing a web map: tiles from projects, the disk cache or the server, at eight requests a
// second at most.
#include "mapview/web_tile_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

using namespace mapview;
using qmtest::ScriptedAnswer;
using qmtest::TestServer;

const std::string kJpeg = "\xFF\xD8\xFF\xE0 a tile";
const auto kAlways = [] { return true; };

std::unique_ptr<WebTileSource> SourceOf(const TestServer& server, const std::string& cacheFolder,
                                        std::vector<ProjectArea> projects = {}, std::string blank = "") {
  return std::make_unique<WebTileSource>(FetchSettings{server.HostPort(), std::nullopt}, std::move(projects),
                                         std::move(blank), std::make_unique<TileDiskCache>(cacheFolder, 1 << 20));
}

TEST(WebTiles, BrowsingNeverAsksMoreThanEightTilesASecondAndRevisitsCostNothing) {
  TestServer server;
  server.SetFallback(ScriptedAnswer::Ok(kJpeg));
  TempDir dir;
  // Two maps open at once (as when the picker is opened again at once), each with the threads
  // of the picker's image loader: together they keep the pace.
  auto source = SourceOf(server, dir.File("cache/"));
  auto second = SourceOf(server, dir.File("cache/"));
  constexpr int kTiles = 20;
  std::atomic<int> next{0}, got{0};
  std::vector<std::thread> viewers;
  for (int t = 0; t < 12; ++t) {
    viewers.emplace_back([&, t] {
      WebTileSource& map = t % 2 == 0 ? *source : *second;
      for (int i; (i = next++) < kTiles;) got += map.Bytes({10, i, 7}, kAlways) == kJpeg;
    });
  }
  for (std::thread& viewer : viewers) viewer.join();
  EXPECT_EQ(got, kTiles);
  std::vector<std::chrono::steady_clock::time_point> times;
  for (const auto& request : server.Requests()) times.push_back(request.time);
  ASSERT_EQ(times.size(), static_cast<size_t>(kTiles));
  std::sort(times.begin(), times.end());
  // The pacer spaces starts 130 ms apart, so nine take over a second. The server sees them after
  // the threads' own delays, which a loaded machine stretches unevenly: the bounds leave half a
  // second of that slack and still catch requests that were not paced at all.
  for (size_t i = 0; i + 8 < times.size(); ++i) {
    EXPECT_GE(times[i + 8] - times[i], std::chrono::milliseconds(500)) << "nine requests within half a second from " << i;
  }
  EXPECT_GE(times.back() - times.front(), std::chrono::milliseconds(1900));

  // Opened again over the same cache, the same places need no request.
  auto again = SourceOf(server, dir.File("cache/"));
  for (int i = 0; i < kTiles; ++i) EXPECT_EQ(again->Bytes({10, i, 7}, kAlways), kJpeg);
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(kTiles));
  EXPECT_EQ(again->Requests(), 0);
}

TEST(WebTiles, ProjectsServeTheirTilesAndNeitherBlanksNorErrorPagesPassForImagery) {
  TestServer server;
  server.SetFallback(ScriptedAnswer::Ok(kJpeg));
  server.Script(TestServer::TilePath(12, 102, 200), {ScriptedAnswer::Ok("<html>busy</html>")});
  TempDir dir;
  ProjectArea project;
  project.zoom = 12;
  project.minX = 100, project.maxX = 102, project.minY = project.maxY = 200;
  project.tileFolder = dir.File("tiles/");
  qm::CreateDirectory(project.tileFolder);
  const std::string stored = "\xFF\xD8\xFF stored in the project";
  qm::WriteFileAtomic(project.TilePath(100, 200), stored);
  qm::WriteFileAtomic(project.TilePath(101, 200), "BLANK");
  auto source = SourceOf(server, dir.File("cache/"), {project}, "BLANK");

  EXPECT_EQ(source->Bytes({12, 100, 200}, kAlways), stored);
  EXPECT_EQ(server.RequestCount(), 0u) << "a project's tile is browsed offline";
  EXPECT_EQ(source->Bytes({12, 101, 200}, kAlways), kJpeg) << "the blank tile is no imagery";
  EXPECT_EQ(source->Bytes({12, 102, 200}, kAlways), std::nullopt);
  EXPECT_EQ(source->Failures(), 1);
  EXPECT_EQ(source->Bytes({12, 102, 200}, kAlways), kJpeg) << "an error page is not kept in the cache";
  EXPECT_EQ(source->Bytes({12, 103, 200}, [] { return false; }), std::nullopt) << "a tile no longer in view";
  EXPECT_EQ(server.RequestCount(), 3u);

  source->Abort();
  EXPECT_EQ(source->Bytes({12, 104, 200}, kAlways), std::nullopt);
  EXPECT_EQ(source->Bytes({12, 100, 200}, kAlways), stored) << "what is on disk stays at hand";
  EXPECT_EQ(server.RequestCount(), 3u);

  // A malformed URL template asks nothing and says why; the projects still serve.
  WebTileSource malformed({"gopher://" + server.HostPort() + "/{z}/{x}/{y}", std::nullopt}, {project}, "BLANK", nullptr);
  ASSERT_TRUE(malformed.ServerProblem());
  EXPECT_EQ(malformed.Bytes({12, 100, 200}, kAlways), stored);
  EXPECT_EQ(malformed.Bytes({12, 104, 200}, kAlways), std::nullopt);
  EXPECT_EQ(malformed.Requests(), 0);
}

TEST(WebTiles, AChosenServersHeadersGoWithBrowsing) {
  TestServer server;
  server.SetFallback(ScriptedAnswer::Ok(kJpeg));
  TempDir dir;
  FetchSettings settings{server.HostPort(), std::nullopt, {{"X-Api-Key", "k3y"}, {"User-Agent", "Quillmere/6.2"}}};
  WebTileSource source(std::move(settings), {}, "", std::make_unique<TileDiskCache>(dir.File("cache/"), 1 << 20));
  ASSERT_EQ(source.Bytes({10, 3, 7}, kAlways), kJpeg);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("X-Api-Key"), "k3y");
  EXPECT_EQ(server.Requests()[0].Header("User-Agent"), "Quillmere/6.2");
}

// Browsing waits out a busy server's Retry-After before asking again, and an abort ends the wait.
TEST(WebTiles, ABusyServerIsAskedAgainAfterItsWaitUnlessBrowsingEnds) {
  TestServer server;
  TempDir dir;
  ScriptedAnswer busy = ScriptedAnswer::Status(503);
  busy.headers.emplace_back("Retry-After", "2");
  server.Script(TestServer::TilePath(10, 3, 7), {busy, ScriptedAnswer::Ok(kJpeg)});
  busy.headers = {{"Retry-After", "600"}};
  server.Script(TestServer::TilePath(10, 4, 7), {busy});
  auto source = SourceOf(server, dir.File("cache/"));
  source->SetRetryAfterScale(1);
  EXPECT_EQ(source->Bytes({10, 3, 7}, kAlways), kJpeg);
  EXPECT_EQ(source->LastFailure(), "Server busy (HTTP/1.1 503 Service Unavailable): asking again in 2 s");

  source->SetRetryAfterScale(1000);
  std::thread abort([&] {
    if (server.WaitForRequests(3, std::chrono::seconds(30))) source->Abort();
  });
  EXPECT_EQ(source->Bytes({10, 4, 7}, kAlways), std::nullopt);
  abort.join();
  EXPECT_EQ(server.RequestCount(), 3u);
}

}  // namespace
