// quillmere-cli as a process against the local test server: the files it writes are the
// controller's, byte for byte; every exit status comes from a real case; SIGINT then resume
// completes the task; what it tells on standard error and on a terminal.
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "engine/Unitclasstask.h"
#include "engine/level_set.h"
#include "platform/ini_file.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"
#ifdef QUILLMERE_CLI_VERIFY_TEST
#include "demo/jpeg_codec.h"
#endif

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

// Starts args[0] with its standard error on errFd, in the folder cwd when one is given.
pid_t SpawnWithErrors(std::vector<std::string> args, int errFd, const std::string& cwd = "") {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
}

struct Outcome {
  int status;
  std::string errors;  // standard error
};

Outcome RunWithErrors(const TempDir& dir, const std::vector<std::string>& argv, const std::string& cwd = "") {
  const std::string errorFile = dir.File("stderr.txt");
  const int fd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t pid = SpawnWithErrors(argv, fd, cwd);
  ::close(fd);
  const int status = ExitStatus(pid);
  return {status, qm::ReadWholeFile(errorFile)};
}

Outcome RunCliWithErrors(const TempDir& dir, std::vector<std::string> args, const std::string& cwd = "") {
  args.insert(args.begin(), QUILLMERE_CLI_PATH);
  return RunWithErrors(dir, args, cwd);
}

std::vector<std::string> WithoutQuiet(std::vector<std::string> args) {
  args.erase(std::find(args.begin(), args.end(), "--quiet"));
  return args;
}

// The log's lines in order, without those that carry the time of day (workers interleave).
std::vector<std::string> SortedLinesWithoutTimes(const std::string& path) {
  std::vector<std::string> kept;
  for (const std::string& line : qm::SplitTextLines(qm::ReadWholeFile(path))) {
    if (line.find("time") == std::string::npos) kept.push_back(line);
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

size_t FilesIn(const std::string& folder) { return std::distance(std::filesystem::directory_iterator(folder), {}); }

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

TEST_F(Cli, EveryLevelOfASetIsTheSingleTaskOfItsZoom) {
  in.LeftLongitude = "-74.0";  // stored as "-74"
  StartInputs set = in;
  set.Zoom = "11-13";
  set.TaskName = "city.qmtp";
  ASSERT_EQ(RunCli(StartArgs(set, config)), 0);
  std::filesystem::rename(in.Folder, dir.File("by-cli"));
  ControllerRig rig(dir, server, DownloadPauses::Zero());
  for (const std::string zoom : {"11", "12", "13"}) {
    const std::string stem = "city_z" + zoom;
    StartInputs single = in;
    single.Zoom = zoom;
    single.TaskName = stem + ".qmtp";
    rig.controller.BitBtn1Click(single);
    ASSERT_TRUE(rig.RunToEnd());
    for (const std::string& name : {stem + ".qmtp", stem + "_list.txt", stem + "_failed.ftl"}) {
      EXPECT_EQ(qm::ReadWholeFile(dir.File("by-cli/") + name), qm::ReadWholeFile(in.Folder + "/" + name)) << name;
    }
    EXPECT_EQ(SortedLinesWithoutTimes(dir.File("by-cli/") + stem + "_log.txt"),
              SortedLinesWithoutTimes(in.Folder + "/" + stem + "_log.txt"));
    EXPECT_EQ(FilesIn(dir.File("by-cli/") + stem), FilesIn(in.Folder + "/" + stem)) << stem;
  }
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
  qm::WriteFileAtomic(dir.File("list.ftl"), "kv_1_1_1.jpg|" + server.Url("/tile.jpg") + "\r\n");
  EXPECT_EQ(RunCli({"redownload", dir.File("list.ftl"), "--folder", dir.Path()}), 0);
  EXPECT_EQ(qm::ReadWholeFile(dir.File("kv_1_1_1.jpg")), "again");
}

TEST_F(Cli, InputThatCannotWorkIsRefusedWithItsReason) {
  StartInputs zoom = in;
  zoom.Zoom = "abc";
  const Outcome notANumber = RunCliWithErrors(dir, StartArgs(zoom, config));
  EXPECT_EQ(notANumber.status, 1);
  EXPECT_EQ(notANumber.errors, "quillmere-cli: 'abc' is not a valid integer value.\n");

  for (const char* port : {"x1", "0", "65536"}) {
    const Outcome proxy = RunCliWithErrors(dir, StartArgs(in, qmtest::WriteConfig(dir, server, port)));
    EXPECT_EQ(proxy.status, 1) << port;
    EXPECT_NE(proxy.errors.find(std::string("The proxy port ") + (port[0] == 'x' ? "'x1'" : port)), std::string::npos)
        << proxy.errors;
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

// The end box of the window is not printed; the summary is, unless --quiet; why tiles failed is
// told once per kind either way.
TEST_F(Cli, QuietTellsOnlyWhyTilesFailedAndTheSummaryStandsForTheEndBox) {
  for (int32_t y : {3080, 3081}) {
    server.Script(TestServer::TilePath(13, 2412, y), std::vector<ScriptedAnswer>(3, ScriptedAnswer::Status(500)));
  }
  const Outcome quiet = RunCliWithErrors(dir, StartArgs(in, config));
  EXPECT_EQ(quiet.status, 3);
  EXPECT_EQ(quiet.errors, "quillmere-cli: a tile failed: HTTP/1.1 500 Internal Server Error\n");

  StartInputs again = in;
  again.TaskName = "again.qmtp";
  const Outcome told = RunCliWithErrors(dir, WithoutQuiet(StartArgs(again, config)));
  EXPECT_EQ(told.status, 0);
  EXPECT_NE(told.errors.find("Download complete"), std::string::npos) << told.errors;
  EXPECT_EQ(told.errors.find("Task stoped!"), std::string::npos) << told.errors;
}

TEST_F(Cli, ResumeFindsAProjectNamedWithoutItsFolderInTheCurrentFolder) {
  ASSERT_EQ(RunCli(StartArgs(in, config)), 0);
  const Outcome resumed = RunCliWithErrors(dir, {"resume", "newtask.qmtp", "--config", config, "--quiet"}, in.Folder);
  EXPECT_EQ(resumed.status, 0) << resumed.errors;
  const auto log = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/newtask_log.txt"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "Log continue..."), 1);
}

// A list from elsewhere: relative tile names land in the folder, anything else is refused, and a
// line that failed or was refused makes the status 3.
TEST_F(Cli, RedownloadWritesOnlyTilesInsideItsFolder) {
  const std::string folder = dir.File("tiles");
  qm::CreateDirectory(folder);
  qm::CreateDirectory(dir.File("tiles-evil"));  // its name begins with the folder's
  server.Script("/broken.jpg", {ScriptedAnswer::Status(500)});
  const std::string url = server.Url("/tile.jpg");
  qm::WriteFileAtomic(dir.File("list.ftl"), "kv_1_2_3.jpg|" + url + "\r\n../kv_1_2_4.jpg|" + url + "\r\n" + url +
                                                "\r\nkv_1_2_5.jpg|" + server.Url("/broken.jpg") + "\r\nkv_1_2_6.jpg|" +
                                                url + "\r\n" + dir.File("tiles-evil/kv_1_2_7.jpg") + "|" + url + "\r\n");
  const Outcome run = RunCliWithErrors(dir, {"redownload", dir.File("list.ftl"), "--folder", folder});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.errors, "quillmere-cli: 2 stored, 1 failed, 3 refused\n");
  EXPECT_TRUE(qm::FileExists(folder + "/kv_1_2_3.jpg"));
  EXPECT_TRUE(qm::FileExists(folder + "/kv_1_2_6.jpg"));
  EXPECT_FALSE(qm::PathExists(dir.File("kv_1_2_4.jpg")));
  EXPECT_FALSE(qm::PathExists(dir.File("tiles-evil/kv_1_2_7.jpg")));
}

// Whatever fails, the program ends with a sentence and a status: here memory runs out while a
// list far larger than the memory allowed is read.
TEST_F(Cli, AListTooLargeToReadEndsWithStatusFive) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer reserves more address space than the limit allows";
#endif
  const std::string list = dir.File("huge.ftl");
  qm::WriteFileAtomic(list, "");
  std::filesystem::resize_file(list, 3ULL << 30);  // sparse: no disk space used
  const Outcome run = RunWithErrors(dir, {"/bin/sh", "-c", "ulimit -v 1000000 && exec \"$@\"", "sh", QUILLMERE_CLI_PATH,
                                          "redownload", list, "--folder", dir.Path()});
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.errors, "quillmere-cli: File too large: " + list + ".\n");
}

// A level set killed in its last level: resume asks the finished levels no more, shows which
// level it is in, and its summary covers the set.
TEST_F(Cli, ALevelSetKilledAndResumedAsksFinishedLevelsNoMore) {
  const LevelEstimates levels = EstimateLevels(in.LeftLongitude, in.RightLongitude, in.TopLatitude,
                                               in.BottomLatitude, ZoomRange{11, 13});
  ASSERT_EQ(levels.levels.size(), 3u);
  const size_t earlierLevels = levels.levels[0].tiles + levels.levels[1].tiles;
  const size_t total = earlierLevels + levels.levels[2].tiles;
  server.SetFallback(ScriptedAnswer::Ok("slow").Delayed(300));
  StartInputs set = in;
  set.Zoom = "11-13";
  set.TaskName = "city";
  const pid_t cli = SpawnCli(StartArgs(set, config));
  ASSERT_GT(cli, 0);
  ASSERT_TRUE(server.WaitForRequests(earlierLevels + 1, std::chrono::seconds(20)));
  kill(cli, SIGKILL);
  ExitStatus(cli);

  server.SetFallback(ScriptedAnswer::Ok("tile").Delayed(1200));
  const Outcome resumed = RunCliWithErrors(dir, {"resume", in.Folder + "/city.qmset", "--config", config});
  EXPECT_EQ(resumed.status, 0) << resumed.errors;
  EXPECT_NE(resumed.errors.find("level 3 of 3, zoom 13 · "), std::string::npos) << resumed.errors;
  const std::string all = GroupedCount(static_cast<int64_t>(total));
  EXPECT_NE(resumed.errors.find("Zoom levels 11 to 13: Download complete: " + all + " of " + all + " tiles"),
            std::string::npos)
      << resumed.errors;
  for (int32_t zoom = 11; zoom <= 12; ++zoom) {
    const AreaEstimate& level = levels.levels[zoom - 11];
    for (int64_t x = level.minX; x <= level.maxX; ++x) {
      for (int64_t y = level.minY; y <= level.maxY; ++y) {
        EXPECT_EQ(server.RequestsFor(TestServer::TilePath(zoom, x, y)).size(), 1u) << zoom << "/" << x << "/" << y;
      }
    }
  }
  EXPECT_EQ(static_cast<int64_t>(FilesIn(in.Folder + "/city_z13")), levels.levels[2].tiles);
}

TEST_F(Cli, TheEstimateOfLevelsIsEachLevelsAndTheirSum) {
  const auto estimate = [&](const std::string& zoom) {
    const std::string out = dir.File("estimate.txt");
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = qmtest::SpawnProgram({QUILLMERE_CLI_PATH, "estimate", "--left=" + in.LeftLongitude,
                                            "--right=" + in.RightLongitude, "--top=" + in.TopLatitude,
                                            "--bottom=" + in.BottomLatitude, "--zoom=" + zoom},
                                           fd);
    ::close(fd);
    EXPECT_EQ(ExitStatus(pid), 0) << zoom;
    return qm::SplitTextLines(qm::ReadWholeFile(out));
  };
  const std::vector<std::string> set = estimate("11-13");
  ASSERT_EQ(set.size(), 4u);
  int64_t tiles = 0;
  for (int32_t zoom = 11; zoom <= 13; ++zoom) {
    const std::vector<std::string> single = estimate(std::to_string(zoom));
    ASSERT_EQ(single.size(), 2u);
    EXPECT_EQ(set[zoom - 11], "zoom " + std::to_string(zoom) + ": " + single[0] + " · " + single[1]);
    tiles += std::stoll(single[0].substr(0, single[0].find(' ')));
  }
  EXPECT_EQ(set[3].substr(0, set[3].find(" · ")), "3 levels: " + std::to_string(tiles) + " tiles");
}

TEST_F(Cli, ALevelRangeThatCannotBeIsRefusedAndWritesNothing) {
  const std::pair<const char*, std::string> cases[] = {
      {"13-11", "The zoom levels 13-11 go downwards: the second should not be below the first."},
      {"11-31", ZoomOutsideGridText(31)},
      {"11-x", "'11-x' is neither a zoom level nor a range of zoom levels such as 9-12."}};
  for (const auto& [zoom, reason] : cases) {
    StartInputs set = in;
    set.Zoom = zoom;
    const Outcome refused = RunCliWithErrors(dir, StartArgs(set, config));
    EXPECT_EQ(refused.status, 1) << zoom;
    EXPECT_EQ(refused.errors, "quillmere-cli: " + reason + "\n");
  }
  const Outcome missing = RunCliWithErrors(dir, {"resume", in.Folder + "/none.qmset", "--config", config});
  EXPECT_EQ(missing.status, 1);
  // A last level the server does not serve refuses the whole set, not the set once its first level is done.
  qm::IniFile(config).WriteString("Server Low", "Url", server.HostPort());
  qm::IniFile(config).WriteString("Server Low", "MaxZoom", "12");
  StartInputs beyond = in;
  beyond.Zoom = "11-13";
  std::vector<std::string> args = StartArgs(beyond, config);
  args.insert(args.end(), {"--server", "Low"});
  const Outcome refused = RunCliWithErrors(dir, args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.errors, "quillmere-cli: The server \"Low\" serves zoom levels up to 12; zoom 13 is beyond them.\n");
  EXPECT_FALSE(qm::PathExists(in.Folder));
  EXPECT_EQ(server.RequestCount(), 0u);
}

// The progress line on a terminal: what the terminal shows between line ends and returns.
std::vector<std::string> ProgressLines(const std::string& shown) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t at = 0; at <= shown.size(); ++at) {
    if (at == shown.size() || shown[at] == '\r' || shown[at] == '\n') {
      if (line.find(" left") != std::string::npos && line.find("quillmere-cli") == std::string::npos) {
        lines.push_back(line);
      }
      line.clear();
    } else if (shown.compare(at, 3, "\x1b[K") == 0) {
      at += 2;
    } else {
      line += shown[at];
    }
  }
  return lines;
}

size_t Columns(const std::string& text) {
  return std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

void SetColumns(int terminal, unsigned short columns) {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  ::ioctl(terminal, TIOCSWINSZ, &size);
}

// Reads what the program writes to the terminal until done(everything so far) holds; false
// when it does not within the bound.
bool ReadUntil(int terminal, std::string& shown, const std::function<bool(const std::string&)>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done(shown)) {
    pollfd ready{terminal, POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline || ::poll(&ready, 1, 200) < 0) return false;
    char buffer[4096];
    const ssize_t n = (ready.revents & POLLIN) != 0 ? ::read(terminal, buffer, sizeof buffer) : 0;
    if (n < 0) return false;
    shown.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

TEST_F(Cli, TheProgressLineFitsTheTerminalAndFollowsItsWidth) {
  server.SetFallback(ScriptedAnswer::Ok("slow").Delayed(30000));
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  SetColumns(terminal, 100);
  const int screen = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(screen, 0);
  std::vector<std::string> args = WithoutQuiet(StartArgs(in, config));
  args.insert(args.begin(), QUILLMERE_CLI_PATH);
  const pid_t cli = SpawnWithErrors(args, screen);
  ::close(screen);
  ASSERT_GT(cli, 0);

  // Two updates on 100 columns, then the terminal narrows to 40 until an update fits it.
  std::string shown;
  const bool twoLines = ReadUntil(terminal, shown, [](const std::string& s) { return ProgressLines(s).size() >= 2; });
  const std::string before = shown;
  SetColumns(terminal, 40);
  kill(cli, SIGWINCH);
  const bool narrowed = ReadUntil(terminal, shown, [](const std::string& s) {
    const auto lines = ProgressLines(s);
    return !lines.empty() && Columns(lines.back()) < 40;
  });
  kill(cli, SIGKILL);
  ExitStatus(cli);
  ::close(terminal);

  ASSERT_TRUE(twoLines) << shown;
  for (const std::string& line : ProgressLines(before)) {
    EXPECT_EQ(line.substr(0, 1), "[") << line;
    EXPECT_LT(Columns(line), 100u) << line;
  }
  EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 0);  // each update rewrote the one line
  EXPECT_TRUE(narrowed) << shown;
}

#ifdef QUILLMERE_CLI_VERIFY_TEST
// Verify, redownload its list, verify again: the path a user takes before going offline.
TEST_F(Cli, VerifyListsADamagedTileThatRedownloadMendsAndASavedServerIsUsedByName) {
  RgbImage grey{256, 256, std::vector<uint8_t>(256 * 256 * 3, 120)};
  const std::string jpeg = EncodeJpeg(grey, 90);
  server.SetFallback(ScriptedAnswer::Ok(jpeg));
  qm::IniFile(config).WriteString("Server Demo", "Url", server.HostPort());
  qm::IniFile(config).WriteString("Server Demo", "Header.X-Api-Key", "k3y");
  std::vector<std::string> start = StartArgs(in, config);
  start.insert(start.end(), {"--server", "Demo"});
  ASSERT_EQ(RunCli(start), 0);
  EXPECT_EQ(server.Requests().back().Header("X-Api-Key"), "k3y");
  const std::string project = in.Folder + "/newtask.qmtp";
  EXPECT_EQ(RunCli({"verify", project, "--config", config, "--quiet"}), 0);

  const std::string tile = in.Folder + "/newtask/kv_2413_3081_13.jpg";
  qm::WriteFileAtomic(tile, jpeg.substr(0, jpeg.size() / 2));
  const Outcome damaged = RunCliWithErrors(dir, {"verify", project, "--config", config});
  EXPECT_EQ(damaged.status, 3);
  EXPECT_NE(damaged.errors.find("damaged 1"), std::string::npos) << damaged.errors;
  const std::string list = in.Folder + "/newtask_verify.ftl";
  EXPECT_EQ(qm::ReadTextFileLines(list).size(), 1u);
  EXPECT_EQ(RunCli({"redownload", list, "--folder", in.Folder, "--config", config}), 0);
  EXPECT_EQ(qm::ReadWholeFile(tile), jpeg);
  EXPECT_EQ(RunCli({"verify", project, "--config", config, "--quiet"}), 0);

  const Outcome unknown = RunCliWithErrors(dir, {"verify", project, "--config", config, "--server", "Nope"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.errors.find("Nope"), std::string::npos);
}
#endif

}  // namespace
