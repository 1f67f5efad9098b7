// Refreshing a project's stored tiles against the local test server: conditional requests, what
// each answer does to the tile on disk, the lists and positions, Retry-After, stop and continue,
// and the command line's statuses.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <utility>

#include "download/refresh_run.h"
#ifdef QUILLMERE_CLI_VERIFY_TEST
#include "demo/jpeg_codec.h"
#endif
#include "engine/image_signature.h"
#include "engine/project_area.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/http_date.h"
#include "platform/ini_file.h"
#include "platform/tile_validators.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/refresh_project.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;

using qmtest::PngBytes;
const std::string kStoredTime = qmtest::kStoredTileTime;

std::string Png(const std::string& what) { return PngBytes(what); }

bool HasExtendedAttributes(const std::string& folder) {
  const std::string probe = folder + "probe";
  qm::WriteFileAtomic(probe, "x");
  const bool has = setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
  std::filesystem::remove(probe);
  return has;
}

// The stored project against the test server, with no pauses.
class RefreshTest : public ::testing::Test {
 protected:
  std::string Tile(int32_t x, int32_t y) const { return project.Tile(x, y); }
  static std::string Path(int32_t x, int32_t y) { return qmtest::StoredProject::Path(x, y); }

  RefreshSettings Settings() const {
    RefreshSettings settings;
    settings.tileServer = server.HostPort();
    settings.pauses = DownloadPauses::Zero();
    return settings;
  }
  std::string Refresh(const std::string& key) const {
    return qm::IniFile(projectFile).ReadString("REFRESH", key, "");
  }

  TempDir dir;
  qmtest::StoredProject project{dir};
  std::string projectFile = project.File();
  TestServer server;
};

TEST_F(RefreshTest, AnUnchangedAreaIsAskedConditionallyAndTransfersNoTileBody) {
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  const bool etags = HasExtendedAttributes(dir.Path());
  RefreshRun run(projectFile, Settings());
  const RefreshReport report = run.Run();

  EXPECT_EQ(report.end, RefreshEnd::kComplete);
  EXPECT_EQ(report.tiles, 4);
  EXPECT_EQ(report.counts.unchanged, 4);
  ASSERT_EQ(server.RequestCount(), 4u);
  for (const auto& request : server.Requests()) {
    EXPECT_EQ(request.answeredStatus, 304) << request.path;
    EXPECT_EQ(request.Header("If-Modified-Since"), kStoredTime);
    if (etags) {
      EXPECT_EQ(request.Header("If-None-Match"), TestServer::DefaultEtag(request.path));
    }
  }
  for (const auto& [x, y] : qmtest::kRefreshTiles) EXPECT_EQ(qm::ReadWholeFile(Tile(x, y)), Png("old"));
  EXPECT_EQ(Refresh("Started"), "") << "a finished refresh clears its positions";
  EXPECT_EQ(qm::ReadWholeFile(dir.File("area_refresh_failed.ftl")), "");
  EXPECT_EQ(RefreshSummaryText(report), "Refresh of area: 4 tiles · unchanged 4 · changed 0 · kept 0 · failed 0");
  EXPECT_FALSE(qm::FileExists(dir.File("area_log.txt"))) << "the download's log is not touched";
}

TEST_F(RefreshTest, OnlyAChangedImageReplacesATileAndFailuresAreListed) {
  const std::string longEtag = "\"" + std::string(8192, 'e') + "\"";
  const std::string newTime = "Wed, 16 Nov 1994 08:00:00 GMT";
  server.Script(Path(2412, 3080), {ScriptedAnswer::Validated(Png("new"), longEtag, newTime)});
  // As in a download, a failure is asked three times before the tile is given up.
  server.Script(Path(2412, 3081), {ScriptedAnswer::Status(404), ScriptedAnswer::Status(404), ScriptedAnswer::Status(404)});
  server.Script(Path(2413, 3080), {ScriptedAnswer::Ok("<html>quota exceeded</html>")});
  server.Script(Path(2413, 3081), {ScriptedAnswer::Status(500), ScriptedAnswer::Status(500), ScriptedAnswer::Status(500)});
  const RefreshReport report = RefreshRun(projectFile, Settings()).Run();

  EXPECT_EQ(report.end, RefreshEnd::kComplete);
  EXPECT_EQ(report.counts.changed, 1);
  EXPECT_EQ(report.counts.kept, 2);
  EXPECT_EQ(report.counts.failed, 1);
  EXPECT_EQ(qm::ReadWholeFile(Tile(2412, 3080)), Png("new"));
  EXPECT_EQ(qm::ReadTileValidators(Tile(2412, 3080)).etag, std::nullopt) << "an 8 kB ETag is not kept";
  EXPECT_EQ(qm::ReadTileValidators(Tile(2412, 3080)).time, qm::ParseHttpDate(newTime));
  for (const auto& [x, y] : std::initializer_list<std::pair<int32_t, int32_t>>{{2412, 3081}, {2413, 3080}, {2413, 3081}}) {
    EXPECT_EQ(qm::ReadWholeFile(Tile(x, y)), Png("old")) << x << "," << y;
  }
  EXPECT_EQ(qm::ReadWholeFile(report.failedList), Tile(2413, 3081) + "|" + server.Url(Path(2413, 3081)) + "\r\n");
  const std::string log = qm::ReadWholeFile(dir.File("area_refresh_log.txt"));
  EXPECT_NE(log.find("kv_2412_3081_13.jpg HTTP/1.1 404 Not Found: not found on the server, stored tile kept"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("the answer is not an image"), std::string::npos) << log;

  // The tile without a usable ETag is asked by its time alone, and is then unchanged; so is a tile
  // whose server ignores the conditions and sends the same bytes again.
  server.Script(Path(2412, 3080), {ScriptedAnswer::Validated(Png("new"), longEtag, newTime)});
  server.Script(Path(2412, 3081), {ScriptedAnswer::Ok(Png("old"))});
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  const RefreshReport again = RefreshRun(projectFile, Settings()).Run();
  EXPECT_EQ(again.counts.unchanged, 4);
  const auto second = server.RequestsFor(Path(2412, 3080)).back();
  EXPECT_EQ(second.Header("If-None-Match"), std::nullopt);
  EXPECT_EQ(second.Header("If-Modified-Since"), newTime);
}

#ifdef QUILLMERE_CLI_VERIFY_TEST
std::string Jpeg(int side, uint8_t grey) {
  return EncodeJpeg(RgbImage{side, side, std::vector<uint8_t>(static_cast<size_t>(side * side * 3), grey)}, 90);
}

// A new answer is judged by quillmere-verify decoding it, as verify judges a stored tile: bytes after
// a whole image do it no harm, while an image cut short or of another size never replaces the
// stored tile; an answer that cannot be judged replaces nothing and is listed.
TEST_F(RefreshTest, ANewAnswerReplacesTheTileOnlyWhenItDecodesAsVerifyDecodesIt) {
  std::optional<ScopedEnv> program(std::in_place, "QUILLMERE_VERIFY_PROGRAM", QUILLMERE_VERIFY_PATH);
  const std::string stored = Jpeg(256, 120), fresh = Jpeg(256, 60), large = Jpeg(512, 60);
  EXPECT_EQ(DeclaredImageSize(large), (ImageSize{512, 512}));
  for (const auto& [x, y] : qmtest::kRefreshTiles) qm::WriteFileAtomic(Tile(x, y), stored);
  server.Script(Path(2412, 3080), {ScriptedAnswer::Ok(fresh + "trailing bytes")});
  server.Script(Path(2412, 3081), {ScriptedAnswer::Ok(fresh.substr(0, fresh.size() / 2))});
  server.Script(Path(2413, 3080), {ScriptedAnswer::Ok(large)});
  server.Script(Path(2413, 3081), {ScriptedAnswer::Ok(fresh.substr(0, 200) + std::string(fresh.size() - 200, 'x'))});
  RefreshSettings settings = Settings();
  settings.judge = std::make_shared<TileJudgeProgram>();
  const RefreshReport report = RefreshRun(projectFile, settings).Run();
  EXPECT_EQ(report.counts.changed, 1);
  EXPECT_EQ(report.counts.kept, 3);
  EXPECT_EQ(qm::ReadWholeFile(Tile(2412, 3080)), fresh + "trailing bytes");
  for (const auto& [x, y] : {std::pair{2412, 3081}, {2413, 3080}, {2413, 3081}}) {
    EXPECT_EQ(qm::ReadWholeFile(Tile(x, y)), stored) << x << "," << y;
  }
  const std::string log = qm::ReadWholeFile(dir.File("area_refresh_log.txt"));
  EXPECT_NE(log.find("kv_2412_3081_13.jpg the answer is an image that does not decode"), std::string::npos) << log;
  EXPECT_NE(log.find("kv_2413_3081_13.jpg the answer is an image that does not decode"), std::string::npos) << log;
  EXPECT_NE(log.find("an image of another size (512 x 512), stored tile kept"), std::string::npos) << log;

  program.emplace("QUILLMERE_VERIFY_PROGRAM", dir.File("absent-program"));
  server.Script(Path(2412, 3081), {ScriptedAnswer::Ok(fresh)});
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  settings.judge = std::make_shared<TileJudgeProgram>();
  const RefreshReport unjudged = RefreshRun(projectFile, settings).Run();
  EXPECT_EQ(unjudged.counts.failed, 1);
  EXPECT_EQ(qm::ReadWholeFile(Tile(2412, 3081)), stored);
  EXPECT_NE(qm::ReadWholeFile(dir.File("area_refresh_failed.ftl")).find("kv_2412_3081_13.jpg"), std::string::npos);
}
#endif

// A judging program that cannot be started leaves every tile unjudged and nothing open behind it.
TEST(TileJudge, AProgramThatCannotBeStartedJudgesNothingAndLeavesNoDescriptorOpen) {
  const TempDir dir;
  const ScopedEnv program("QUILLMERE_VERIFY_PROGRAM", dir.File("absent-program"));
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
  };
  TileJudgeProgram judge;
  const auto before = openDescriptors();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(judge.Judge("\xFF\xD8\xFF"), TileVerdict::kUnjudged);
  EXPECT_EQ(openDescriptors(), before);
}

TEST_F(RefreshTest, ABusyServerIsWaitedForAndAStoppedRefreshContinues) {
  ScriptedAnswer busy = ScriptedAnswer::Status(503);
  busy.headers.emplace_back("Retry-After", "86400");  // a day: waited for ten minutes at most
  server.Script(Path(2413, 3080), {busy});
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  RefreshSettings settings = Settings();
  settings.pauses.retryAfterMsPerSecond = 1000;  // ten minutes: only the stop ends the wait
  RefreshReport report;
  {
    RefreshRun run(projectFile, settings);
    std::thread running([&] { report = run.Run(); });
    // The busy tile is the third of the order; once the other three were answered its worker waits.
    ASSERT_TRUE(server.WaitForRequests(4, std::chrono::seconds(30)));
    run.Stop();
    running.join();
  }

  EXPECT_EQ(report.end, RefreshEnd::kStopped);
  EXPECT_EQ(server.RequestsFor(Path(2413, 3080)).size(), 1u) << "asked again only after the wait";
  EXPECT_EQ(report.counts.unchanged, 3);
  EXPECT_NE(qm::ReadWholeFile(dir.File("area_refresh_log.txt")).find("asking again in 600 s"), std::string::npos);
  EXPECT_NE(Refresh("Started"), "");

  RefreshRun continued(projectFile, Settings());
  EXPECT_TRUE(continued.Continues());
  EXPECT_EQ(continued.Tiles(), 1);
  EXPECT_EQ(continued.Run().counts.unchanged, 1);
  EXPECT_EQ(server.RequestsFor(Path(2413, 3080)).size(), 2u);
  EXPECT_EQ(Refresh("Started"), "");
}

// A busy server's waits are not failed attempts: after two waits, two failures still leave the
// tile its third attempt.
TEST_F(RefreshTest, WaitsForABusyServerAreNotCountedAsFailedAttempts) {
  ScriptedAnswer busy = ScriptedAnswer::Status(503);
  busy.headers.emplace_back("Retry-After", "1");
  server.Script(Path(2413, 3080), {busy, busy, ScriptedAnswer::Status(500), ScriptedAnswer::Status(500)});
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  RefreshSettings settings = Settings();
  settings.pauses.retryAfterMsPerSecond = 0;
  const RefreshReport report = RefreshRun(projectFile, settings).Run();
  EXPECT_EQ(report.counts.failed, 0);
  EXPECT_EQ(report.counts.unchanged, 4);
  EXPECT_EQ(server.RequestsFor(Path(2413, 3080)).size(), 5u);
}

TEST_F(RefreshTest, NotModifiedToAQuestionWithoutValidatorsKeepsTheTileAndListsIt) {
  const std::string blank = dir.File("blank.jpg");
  qm::WriteFileAtomic(blank, Png("blank"));
  qm::WriteFileAtomic(Tile(2412, 3080), Png("blank"));  // the stand-in of a tile that failed
  server.Script(Path(2412, 3080), {ScriptedAnswer::Status(304)});
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  RefreshSettings settings = Settings();
  settings.blankPath = blank;
  const RefreshReport report = RefreshRun(projectFile, settings).Run();

  EXPECT_EQ(report.counts.failed, 1);
  EXPECT_EQ(report.counts.unchanged, 3);
  const auto asked = server.RequestsFor(Path(2412, 3080)).front();
  EXPECT_EQ(asked.Header("If-None-Match"), std::nullopt) << "a blank stand-in is asked unconditionally";
  EXPECT_EQ(asked.Header("If-Modified-Since"), std::nullopt);
  EXPECT_EQ(qm::ReadWholeFile(Tile(2412, 3080)), Png("blank"));
  EXPECT_NE(qm::ReadWholeFile(dir.File("area_refresh_log.txt")).find("to a request without validators, stored tile kept"),
            std::string::npos);
  EXPECT_EQ(qm::ReadWholeFile(report.failedList), Tile(2412, 3080) + "|" + server.Url(Path(2412, 3080)) + "\r\n");
}

TEST_F(RefreshTest, AProjectWithoutItsTileFolderIsRefusedWithItsReason) {
  std::filesystem::remove_all(dir.File("area"));
  try {
    RefreshRun run(projectFile, Settings());
    FAIL() << "refused";
  } catch (const RefreshRefused& e) {
    EXPECT_NE(std::string(e.what()).find("is gone"), std::string::npos) << e.what();
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(RefreshTest, AZoomBeyondTheSavedServersHighestIsRefusedWithItsReason) {
  const std::string config = qmtest::WriteConfig(dir, server);
  SavedServer low = NewSavedServer("Low");
  low.url = server.HostPort();
  low.maxZoom = qmtest::kRefreshZoom - 1;
  StoreSavedServer(config, "", low);
  qm::IniFile(config).WriteString("IniParas", "Server", "Low");
  try {
    RefreshRun run(projectFile, ReadRefreshSettings(config, ""));
    FAIL() << "refused";
  } catch (const RefreshRefused& e) {
    EXPECT_STREQ(e.what(), "The server \"Low\" serves zoom levels up to 12; zoom 13 is beyond them.");
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(RefreshTest, ServerTextReachesTheLogWithoutControlsAndAPlantedLogIsNeverWrittenThrough) {
  const std::string elsewhere = dir.File("elsewhere.txt");
  qm::WriteFileAtomic(elsewhere, "mine\n");
  std::filesystem::create_symlink(elsewhere, dir.File("area_refresh_log.txt"));
  EXPECT_THROW(RefreshRun(projectFile, Settings()).Run(), qm::FileError);
  EXPECT_EQ(qm::ReadWholeFile(elsewhere), "mine\n");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(Refresh("Started"), "") << "the project is left as it was";

  std::filesystem::remove(dir.File("area_refresh_log.txt"));
  ScriptedAnswer hostile = ScriptedAnswer::Status(500);
  hostile.reason = "Internal\x1b[2J\x1b]0;owned\x07 Error ; touch x\x01\x7f ;";
  server.SetFallback(hostile);
  EXPECT_EQ(RefreshRun(projectFile, Settings()).Run().counts.failed, 4);
  const std::string log = qm::ReadWholeFile(dir.File("area_refresh_log.txt"));
  EXPECT_NE(log.find("kv_2412_3080_13.jpg HTTP/1.1 500 Internal Error ; touch x ; ->"), std::string::npos) << log;
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](unsigned char c) { return (c < 0x20 && c != '\r' && c != '\n') || c == 0x7f; }),
            0);
}

TEST_F(RefreshTest, TheCommandLineAsksOnlyOlderTilesAndTellsFailuresByItsStatus) {
  const std::string config = qmtest::WriteConfig(dir, server);
  qm::KeepTileValidators(Tile(2412, 3080), "", qm::HttpDate(std::time(nullptr) - 3600));  // stored an hour ago
  // Stored by a program that took a server's time from the future: its age is unknown, so it is asked.
  const timespec in2100[2] = {{0, UTIME_OMIT}, {4102444800, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, Tile(2412, 3081).c_str(), in2100, 0), 0);
  server.SetFallback(ScriptedAnswer::Validated(Png("server"), std::nullopt, kStoredTime));
  server.Script(Path(2413, 3081), {ScriptedAnswer::Status(403), ScriptedAnswer::Status(403), ScriptedAnswer::Status(403)});
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {QUILLMERE_CLI_PATH, "refresh", projectFile, "--config", config, "--quiet"});
    return qmtest::WaitForExit(qmtest::SpawnProgram(args));
  };
  EXPECT_EQ(cli({"--older-than", "1"}), 4) << "refused by the server";
  EXPECT_TRUE(server.RequestsFor(Path(2412, 3080)).empty()) << "a tile newer than a day is not asked";
  EXPECT_EQ(server.RequestsFor(Path(2412, 3081)).size(), 1u);
  EXPECT_EQ(qm::ReadWholeFile(Tile(2413, 3081)), Png("old"));

  const qmtest::ProgramOutput continued =
      qmtest::RunProgram({QUILLMERE_CLI_PATH, "refresh", projectFile, "--config", config, "--older-than", "1"}, dir.File(""));
  EXPECT_EQ(continued.status, 0) << "continues with the refused tile";
  EXPECT_EQ(continued.err.find("Refresh of the set"), std::string::npos) << "a project alone is no set: " << continued.err;
  EXPECT_EQ(server.RequestsFor(Path(2413, 3081)).size(), 4u);
  EXPECT_EQ(cli({"--older-than", "x"}), 1);
  std::filesystem::remove_all(dir.File("area"));
  EXPECT_EQ(cli({}), 1);
}

TEST(RefreshCommand, RefreshesALevelSetLevelByLevelAndAStopSignalKeepsItsPlace) {
  TempDir dir;
  TestServer server;
  const std::string config = qmtest::WriteConfig(dir, server);
  server.SetFallback(ScriptedAnswer::Validated(Png("tile"), std::nullopt, kStoredTime));
  const std::string maps = dir.File("maps");
  ASSERT_EQ(qmtest::WaitForExit(qmtest::SpawnProgram({QUILLMERE_CLI_PATH, "start", "--left=-74", "--right=-73.9",
                                                        "--top=40.7", "--bottom=40.6", "--zoom=12-13", "--folder",
                                                        maps, "--config", config, "--quiet"})),
            0);
  const size_t downloaded = server.RequestCount();
  ScriptedAnswer busy = ScriptedAnswer::Status(503);
  busy.headers.emplace_back("Retry-After", "600");
  const std::string busyPath = TestServer::TilePath(13, 2412, 3080);
  server.Script(busyPath, {busy});
  const std::vector<std::string> refresh = {QUILLMERE_CLI_PATH, "refresh", maps + "/newtask.qmset", "--config", config, "--quiet"};

  // Killed when the test ends early, so that no refresh waits out its ten minutes.
  struct Child {
    pid_t pid;
    ~Child() {
      if (pid > 0) kill(pid, SIGKILL), qmtest::WaitForExit(pid);
    }
    int Exit() { return qmtest::WaitForExit(std::exchange(pid, -1)); }
  } stopped{qmtest::SpawnProgram(refresh)};
  // Every tile of both levels asked once but one: the busy tile's worker waits out its ten
  // minutes before the other tile of its share (12 tiles of zoom 13 shared by 8 workers).
  ASSERT_TRUE(server.WaitForRequests(2 * downloaded - 1, std::chrono::seconds(60)));
  kill(stopped.pid, SIGINT);
  EXPECT_EQ(stopped.Exit(), 2);
  EXPECT_EQ(server.RequestsFor(busyPath).size(), 2u) << "once by the download, once by the refresh";
  EXPECT_NE(qm::IniFile(maps + "/newtask_z13.qmtp").ReadString("REFRESH", "Started", ""), "");
  EXPECT_EQ(qm::IniFile(maps + "/newtask_z12.qmtp").ReadString("REFRESH", "Started", ""), "");

  std::vector<std::string> told = refresh;
  told.pop_back();  // not --quiet: the levels and the set's summary
  const qmtest::ProgramOutput continued = qmtest::RunProgram(told, dir.File(""));
  EXPECT_EQ(continued.status, 0);
  EXPECT_NE(continued.err.find("newtask_z12.qmtp: refreshed before this run"), std::string::npos) << continued.err;
  EXPECT_NE(continued.err.find("Refresh of the set newtask, 1 level (1 refreshed before): 2 tiles"), std::string::npos)
      << continued.err;
  EXPECT_EQ(server.RequestsFor(busyPath).size(), 3u);
  EXPECT_EQ(qm::IniFile(maps + "/newtask_z13.qmtp").ReadString("REFRESH", "Started", ""), "");
  // The level finished before the stop is not asked again by the continued refresh.
  std::map<std::string, int> asked;
  for (const auto& request : server.Requests()) ++asked[request.path];
  for (const auto& [path, times] : asked) {
    if (path.find("/12/") != std::string::npos) EXPECT_EQ(times, 2) << path;
  }
  EXPECT_EQ(qm::IniFile(maps + "/newtask.qmset").ReadString("REFRESH", "Finished", "?"), "") << "a whole set begins anew";
}

TEST(DownloadNotModified, IsAFailureWhoseLineSaysTheQuestionHadNoValidators) {
  TempDir dir;
  TestServer server;
  qmtest::ControllerRig rig(dir, server);
  const std::string path = TestServer::TilePath(13, 2412, 3080);
  server.Script(path, {ScriptedAnswer::Status(304), ScriptedAnswer::Status(304), ScriptedAnswer::Status(304)});
  rig.controller.BitBtn1Click(qmtest::ExampleInputs(dir));
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(server.RequestsFor(path).front().Header("If-None-Match"), std::nullopt);
  const auto& failed = rig.view.failed;
  EXPECT_NE(std::find(failed.begin(), failed.end(), rig.controller.CurrentTask()->TileDir + "kv_2412_3080_13.jpg|" + server.Url(path)),
            failed.end());
  const auto& log = rig.view.log;
  EXPECT_NE(std::find_if(log.begin(), log.end(), [](const std::string& line) {
              return line.find(" 304 ") != std::string::npos && line.find("to a request without validators->") != std::string::npos;
            }),
            log.end());
}

}  // namespace
