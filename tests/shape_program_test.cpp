// quillmere-area from outside, through quillmere-cli: a shape is read from the local file alone
// (nothing is fetched, counted by the local test server), a pipe is refused before it is read, and
// the reader ends with a command line stopped by a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/file_ops.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

using qmtest::TestServer;

constexpr const char* kPark = R"({"type": "Polygon", "coordinates":
    [[[10.013, 45.011], [10.207, 45.004], [10.198, 45.193], [10.021, 45.207], [10.013, 45.011]]]})";

qmtest::ProgramOutput Estimate(const TempDir& dir, const std::string& area) {
  // Bounded: a reader blocked on a pipe would otherwise keep the test waiting.
  return qmtest::RunProgram({"timeout", "120", QUILLMERE_CLI_PATH, "estimate", "--area", area, "--zoom", "12"},
                            dir.Path());
}

TEST(AreaProgram, AShapeIsReadFromTheLocalFileAloneWhateverItNames) {
  TempDir dir;
  TestServer server;
  server.Script("/park.geojson", {qmtest::ScriptedAnswer::Ok(kPark)});
  qm::WriteFileAtomic(dir.File("remote.vrt"), "<OGRVRTDataSource><OGRVRTLayer name=\"park\"><SrcDataSource>/vsicurl/" +
                                                  server.Url("/park.geojson") +
                                                  "</SrcDataSource></OGRVRTLayer></OGRVRTDataSource>");
  qm::WriteFileAtomic(dir.File("linked.geojson"),
                      R"({"type": "FeatureCollection", "crs": {"type": "link", "properties": {"href": ")" +
                          server.Url("/crs.prj") + R"(", "type": "ogcwkt"}}, "features": [{"type": "Feature",
                          "properties": {}, "geometry": {"type": "Point", "coordinates": [10, 45]}}]})");
  const auto vrt = Estimate(dir, dir.File("remote.vrt"));
  EXPECT_EQ(vrt.status, 1);
  EXPECT_NE(vrt.err.find("as a vector file (GeoJSON, KML or KMZ, GPX, Shapefile, GeoPackage"), std::string::npos)
      << vrt.err;
  const auto direct = Estimate(dir, "/vsicurl/" + server.Url("/park.geojson"));
  EXPECT_EQ(direct.status, 1);
  EXPECT_NE(direct.err.find("names a GDAL virtual file system"), std::string::npos) << direct.err;
  const auto linked = Estimate(dir, dir.File("linked.geojson"));
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(AreaProgram, APipeIsRefusedAndTheReaderEndsWithASignalledCommandLine) {
  TempDir dir;
  const std::string fifo = dir.File("area.geojson");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto piped = Estimate(dir, fifo);
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.err.find("area.geojson is not a regular file"), std::string::npos) << piped.err;

  // A reader that is not there, and one that ends without a word.
  qm::WriteFileAtomic(dir.File("park.geojson"), kPark);
  for (const auto& [reader, said] : {std::pair{dir.File("missing"), "which cannot be started."},
                                     std::pair{std::string("/bin/false"), "quillmere-area ended without an answer."}}) {
    const ScopedEnv program("QUILLMERE_AREA_PROGRAM", reader);
    const auto run = Estimate(dir, dir.File("park.geojson"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
  }

  // A reader that says its process id through a pipe and then works on for a long time.
  const std::string ready = dir.File("ready");
  ASSERT_EQ(::mkfifo(ready.c_str(), 0600), 0);
  qm::WriteFileAtomic(dir.File("reader"), "#!/bin/sh\necho $$ > '" + ready + "'\nexec sleep 600\n");
  ASSERT_EQ(::chmod(dir.File("reader").c_str(), 0700), 0);
  const ScopedEnv reader("QUILLMERE_AREA_PROGRAM", dir.File("reader"));
  const pid_t cli = qmtest::SpawnProgram(
      {QUILLMERE_CLI_PATH, "estimate", "--area", dir.File("park.geojson"), "--zoom", "12"}, -1, true);
  ASSERT_GT(cli, 0);
  const int readyFd = ::open(ready.c_str(), O_RDONLY | O_NONBLOCK);
  pollfd said{readyFd, POLLIN, 0};
  char text[32] = {};
  const bool started = ::poll(&said, 1, 60000) == 1 && ::read(readyFd, text, sizeof text - 1) > 0;
  ::close(readyFd);
  if (!started) ::kill(cli, SIGKILL);
  ASSERT_TRUE(started) << "the command line started no reader";
  const pid_t helper = std::stoi(text);
  const int helperFd = static_cast<int>(::syscall(SYS_pidfd_open, helper, 0));
  ASSERT_GE(helperFd, 0);
  ::kill(cli, SIGTERM);
  qmtest::WaitForExit(cli);
  pollfd ended{helperFd, POLLIN, 0};
  EXPECT_EQ(::poll(&ended, 1, 60000), 1) << "the reader outlived the command line";
  ::close(helperFd);
  if (ended.revents == 0) ::kill(helper, SIGKILL);
}

}  // namespace
