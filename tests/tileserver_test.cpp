// quillmere-tileserver as a separate process: a download through the real path from its
// rendered imagery, a tile folder served byte for byte, and its answers to bad requests.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "demo/http_tile_server.h"
#include "demo/jpeg_codec.h"
#include "platform/regular_file.h"
#include "demo/tile_provider.h"
#include "demo/tile_request.h"
#include "download/refresh_run.h"
#include "engine/tile_server_setting.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "platform/ini_file.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::TestServer;

// The server on a free loopback port, stopped with SIGTERM when the test ends.
class TileServerProcess {
 public:
  explicit TileServerProcess(std::vector<std::string> args) {
    args.insert(args.begin(), {QUILLMERE_TILESERVER_PATH, "--port", "0"});
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = qmtest::SpawnProgram(args, out[1]);
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[512] = {};
    if (stream != nullptr && std::fgets(line, sizeof line, stream) != nullptr) startLine_ = line;
    if (stream != nullptr) std::fclose(stream);
    const size_t colon = startLine_.find("127.0.0.1:");
    if (colon != std::string::npos) port_ = std::stoi(startLine_.substr(colon + 10));
  }
  // SIGTERM, then the exit status (0 for a clean stop).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    const int status = qmtest::WaitForExit(pid_);
    pid_ = -1;
    return status;
  }
  ~TileServerProcess() { Stop(); }

  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& path) const { return "http://" + HostPort() + path; }
  const std::string& StartLine() const { return startLine_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string startLine_;
};

// Sends raw bytes and returns the first line of the answer ("" when the server just closes).
std::string RawAnswerLine(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) answer.assign(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

// A keep-alive connection driven by hand; every wait on it ends after 60 s at most.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    const timeval bound{60, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { close(fd_); }

  // Asks for path and reads the whole answer; its status line, "closed" when the server closed
  // the connection instead, "timeout" when nothing came.
  std::string Get(const std::string& path) { return Send(path) ? Answer() : "closed"; }
  bool Send(const std::string& path) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: a\r\n\r\n";
    return connected_ && send(fd_, request.data(), request.size(), MSG_NOSIGNAL) >= 0;
  }
  // Reads one whole answer and returns its status line, "closed" or "timeout".
  std::string Answer() {
    std::string answer;
    size_t headEnd = std::string::npos, length = 0;
    while (headEnd == std::string::npos || answer.size() < headEnd + 4 + length) {
      const std::string more = Receive();
      if (more == "closed" || more == "timeout") return more;
      answer += more;
      if (headEnd != std::string::npos) continue;
      headEnd = answer.find("\r\n\r\n");
      const size_t field = answer.find("Content-Length: ");
      if (headEnd != std::string::npos && field < headEnd) length = std::stoul(answer.substr(field + 16));
    }
    return answer.substr(0, answer.find("\r\n"));
  }
  // Waits for the server's next move: "closed" when it closes the connection.
  std::string Receive() {
    char buf[65536];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n > 0) return std::string(buf, static_cast<size_t>(n));
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? "timeout" : "closed";
  }

 private:
  int fd_;
  bool connected_ = false;
};

TEST(TileRequest, OnlyTileUrlsOfTheGridNameATile) {
  EXPECT_EQ(ParseTileRequest(TestServer::TilePath(13, 2412, 3080)), (TileKey{13, 2412, 3080}));
  EXPECT_EQ(ParseTileRequest(TestServer::TilePath(0, 0, 0)), (TileKey{0, 0, 0}));
  EXPECT_EQ(ParseTileRequest(TestServer::TilePath(30, (1 << 30) - 1, 0)), (TileKey{30, (1 << 30) - 1, 0}));
  for (const std::string& path :
       {TestServer::TilePath(2, 4, 0), TestServer::TilePath(2, 0, 4), TestServer::TilePath(31, 0, 0), std::string("/"),
        std::string(kSatelliteTilePath) + "13/+1/2/256/png8", std::string(kSatelliteTilePath) + "13/1/2",
        std::string(kSatelliteTilePath) + "13/1/2/256/png8/", std::string(kSatelliteTilePath) + "99999999999/1/2/256/png8",
        std::string(kSatelliteTilePath) + "13//2/256/png8", std::string(kSatelliteTilePath) + "3/-1/0/256/png8",
        std::string(kSatelliteTilePath) + "-999999999/1/1/256/png8", std::string(kSatelliteTilePath) + "3/0/-0/256/png8"}) {
    EXPECT_FALSE(ParseTileRequest(path)) << path;
  }
}

TEST(DemoTileServer, ASmallAreaDownloadsAsValidTilesThroughTheRealPath) {
  TileServerProcess server({});
  ASSERT_GT(server.Port(), 0) << server.StartLine();
  TempDir dir;
  qmtest::ControllerRig rig(dir, server.HostPort(), DownloadPauses::Zero());
  const StartInputs in = qmtest::ExampleInputs(dir);
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.RunToEnd());
  const TDownTask& task = *rig.controller.CurrentTask();
  int tiles = 0;
  for (int32_t x = task.MinX; x <= task.MaxX; ++x) {
    for (int32_t y = task.MinY; y <= task.MaxY; ++y, ++tiles) {
      const RgbImage image = DecodeJpeg(qm::ReadWholeFile(task.TileDir + SatelliteTileFileName(13, x, y)));
      EXPECT_EQ(image.width, 256);
      EXPECT_EQ(image.height, 256);
    }
  }
  EXPECT_EQ(tiles, 12);
  EXPECT_TRUE(rig.controller.Failed().Lines().empty());
  EXPECT_EQ(server.Stop(), 0);
}

TEST(DemoTileServer, TilesItServedAreFoundUnchangedByARefresh) {
  TileServerProcess server({});
  ASSERT_GT(server.Port(), 0) << server.StartLine();
  TempDir dir;
  qmtest::ControllerRig rig(dir, server.HostPort(), DownloadPauses::Zero());
  rig.controller.BitBtn1Click(qmtest::ExampleInputs(dir));
  ASSERT_TRUE(rig.RunToEnd());
  RefreshSettings settings;
  settings.tileServer = server.HostPort();
  settings.pauses = DownloadPauses::Zero();
  const RefreshReport report = RefreshRun(rig.controller.CurrentTask()->ProjectFile(), settings).Run();
  EXPECT_EQ(report.tiles, 12);
  EXPECT_EQ(report.counts.unchanged, 12) << RefreshSummaryText(report);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(DemoTileServer, ServesATileFolderByteForByteAndRefusesWhatIsNoTile) {
  TempDir dir;
  const std::string tile(std::string("\xFF\xD8 any bytes \0\r\n", 16) + std::string(100000, 'x'));
  qm::WriteFileAtomic(dir.File(SatelliteTileFileName(13, 2412, 3080)), tile);
  TileServerProcess server({"--tiles", dir.Path()});
  ASSERT_GT(server.Port(), 0) << server.StartLine();
  qm::HttpClient client;
  std::string body;
  ASSERT_TRUE(client.Get(server.Url(TestServer::TilePath(13, 2412, 3080)), body).ok);
  EXPECT_EQ(body, tile);
  EXPECT_EQ(client.Get(server.Url(TestServer::TilePath(13, 2412, 3081)), body).message, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(client.Get(server.Url(TestServer::TilePath(13, 8192, 0)), body).message, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(client.Get(server.Url("/kv_2412_3080_13.jpg"), body).message, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(RawAnswerLine(server.Port(), "GET /x HTTP/1.1\r\nHost\r\n\r\n"), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(RawAnswerLine(server.Port(), "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\n\r\nz"),
            "HTTP/1.1 405 Method Not Allowed");
  ASSERT_TRUE(client.Get(server.Url(TestServer::TilePath(13, 2412, 3080)), body).ok);  // still serving
  EXPECT_EQ(server.Stop(), 0);
}

TEST(DemoTileServer, AnswersTmsQuadkeyAndWmsRequestsForTheSameTiles) {
  TempDir dir;
  // The corners, and a tile whose quadkey ("213") reads differently backwards.
  const TileKey corners[] = {{0, 0, 0},         {1, 1, 0},          {1, 0, 1}, {19, 524287, 524287},
                             {19, 0, 524287},   {19, 524287, 0},    {3, 3, 5}};
  for (const TileKey& tile : corners) {
    qm::WriteFileAtomic(dir.File(SatelliteTileFileName(tile.zoom, tile.x, tile.y)),
                        "tile " + SatelliteTileFileName(tile.zoom, tile.x, tile.y));
  }
  TileServerProcess server({"--tiles", dir.Path()});
  ASSERT_GT(server.Port(), 0) << server.StartLine();
  const std::string port = std::to_string(server.Port());
  const std::string templates[] = {
      "http://{s}.localhost:" + port + "/tms/{z}/{x}/{-y}.jpg",
      server.Url("/quadkey/{q}.jpg"),
      server.Url("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=world&CRS=EPSG:3857&WIDTH=256&HEIGHT=256"
                 "&FORMAT=image/jpeg&BBOX={bbox}"),
  };
  qm::HttpClient client;
  for (const std::string& urlTemplate : templates) {
    ASSERT_FALSE(TileServerProblem(urlTemplate)) << *TileServerProblem(urlTemplate);
    for (const TileKey& tile : corners) {
      std::string body;
      const std::string url = SatelliteTileUrl(urlTemplate, tile.zoom, tile.x, tile.y);
      ASSERT_TRUE(client.Get(url, body).ok) << url;
      EXPECT_EQ(body, "tile " + SatelliteTileFileName(tile.zoom, tile.x, tile.y)) << url;
    }
  }
  std::string body;
  EXPECT_EQ(client.Get(server.Url("/wms?REQUEST=GetMap&BBOX=0,0,100,100"), body).message, "HTTP/1.1 400 Bad Request");
  EXPECT_NE(body.find("not the extent of one tile"), std::string::npos) << body;
  EXPECT_EQ(client.Get(server.Url("/tms/1/0/2.jpg"), body).message, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(client.Get(server.Url("/quadkey/4.jpg"), body).message, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(server.Stop(), 0);

  const std::map<std::string, std::string> getMap = {{"request", "GetMap"}, {"bbox", "0,0,20037508.34,20037508.34"}};
  EXPECT_EQ(ParseWmsRequest(getMap).tile, (TileKey{1, 1, 0}));
  auto other = getMap;
  other["crs"] = "EPSG:4326";
  EXPECT_EQ(ParseWmsRequest(other).problem, "Only CRS=EPSG:3857 is served.");
  other = getMap;
  other["width"] = "512";
  EXPECT_FALSE(ParseWmsRequest(other).tile);
  other = getMap;
  other["bbox"] = "0,0,20037508.34";
  EXPECT_FALSE(ParseWmsRequest(other).tile);
}

TEST(DemoTileServer, ServesOnlyTheFolderOwnRegularFilesUpToTheirLimit) {
  TempDir dir, outside;
  qm::WriteFileAtomic(outside.File("secret"), "not a tile");
  const auto file = [&dir](int x) { return dir.File(SatelliteTileFileName(13, x, 0)); };
  qm::WriteFileAtomic(file(0), "tile");
  ASSERT_EQ(symlink(outside.File("secret").c_str(), file(1).c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", file(2).c_str()), 0);
  ASSERT_EQ(mkfifo(file(3).c_str(), 0600), 0);  // opened for reading, it would wait for a writer
  const auto sized = [&file](int x, off_t bytes) {
    qm::WriteFileAtomic(file(x), "");
    return truncate(file(x).c_str(), bytes) == 0;
  };
  ASSERT_TRUE(sized(4, FolderTiles::kMaxTileBytes + 1));
  ASSERT_TRUE(sized(5, FolderTiles::kMaxTileBytes));
  TileServerProcess server({"--tiles", dir.Path()});
  ASSERT_GT(server.Port(), 0) << server.StartLine();
  RawConnection connection(server.Port());
  for (int x = 1; x <= 4; ++x) EXPECT_EQ(connection.Get(TestServer::TilePath(13, x, 0)), "HTTP/1.1 404 Not Found") << x;
  EXPECT_EQ(connection.Get(TestServer::TilePath(13, 5, 0)), "HTTP/1.1 200 OK");
  qm::HttpClient client;
  std::string body;
  ASSERT_TRUE(client.Get(server.Url(TestServer::TilePath(13, 0, 0)), body).ok);
  EXPECT_EQ(body, "tile");
  EXPECT_EQ(server.Stop(), 0);
}

// A tile folder whose answers for column 1 wait until the test lets them go, so that a request
// stays in progress and the thread answering it stays busy.
class HeldTiles : public TileProvider {
 public:
  explicit HeldTiles(const std::string& folder) : folder_(folder) {}
  TileBody Tile(const TileKey& key) override {
    if (key.x == 1) {
      std::unique_lock lock(mutex_);
      ++held_;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(60), [this] { return released_; });
    }
    return folder_.Tile(key);
  }
  std::string Description() const override { return "held tiles"; }
  bool WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return held_ > 0; });
  }
  void Release() {
    const std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  FolderTiles folder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int held_ = 0;
  bool released_ = false;
};

// Two serving threads: once one of them is held in an answer, the other accepts and answers
// every other connection in the order the test drives them. The idle limit stays far above
// RawConnection's 60 s bound on every wait.
TEST(DemoTileServer, ANewConnectionBeyondTheLimitTakesThePlaceOfTheOneIdleTheLongest) {
  TempDir dir;
  for (int x : {0, 1}) qm::WriteFileAtomic(dir.File(SatelliteTileFileName(13, x, 0)), "tile");
  const std::string tile = TestServer::TilePath(13, 0, 0), heldTile = TestServer::TilePath(13, 1, 0);
  HeldTiles tiles(dir.Path());
  HttpTileServer server(tiles, "127.0.0.1", 0, nullptr, {.idleSeconds = 600, .maxConnections = 3, .threads = 2});
  RawConnection inProgress(server.Port());
  auto heldAnswer = std::async(std::launch::async, [&] { return inProgress.Get(heldTile); });
  ASSERT_TRUE(tiles.WaitUntilHeld());
  RawConnection answered(server.Port()), silent(server.Port());
  ASSERT_EQ(answered.Get(tile), "HTTP/1.1 200 OK");
  // The request in progress is the oldest; `silent`, opened before `answered` was answered, is next.
  RawConnection newcomer(server.Port());
  EXPECT_EQ(newcomer.Get(tile), "HTTP/1.1 200 OK");
  EXPECT_EQ(silent.Receive(), "closed");
  RawConnection next(server.Port());
  EXPECT_EQ(next.Get(tile), "HTTP/1.1 200 OK");
  EXPECT_EQ(answered.Receive(), "closed");
  EXPECT_EQ(newcomer.Get(tile), "HTTP/1.1 200 OK");
  tiles.Release();
  EXPECT_EQ(heldAnswer.get(), "HTTP/1.1 200 OK");
}

TEST(DemoTileServer, ClosesIdleConnectionsButNotOnesWhoseRequestIsArriving) {
  TempDir dir;
  for (int x : {0, 1}) qm::WriteFileAtomic(dir.File(SatelliteTileFileName(13, x, 0)), "tile");
  const std::string tile = TestServer::TilePath(13, 0, 0), heldTile = TestServer::TilePath(13, 1, 0);
  {
    // Every connection has a request in progress: a new one is closed at once.
    HeldTiles tiles(dir.Path());
    HttpTileServer server(tiles, "127.0.0.1", 0, nullptr, {.idleSeconds = 600, .maxConnections = 1, .threads = 2});
    RawConnection inProgress(server.Port());
    auto heldAnswer = std::async(std::launch::async, [&] { return inProgress.Get(heldTile); });
    ASSERT_TRUE(tiles.WaitUntilHeld());
    RawConnection beyond(server.Port());
    EXPECT_EQ(beyond.Receive(), "closed");
    tiles.Release();
    EXPECT_EQ(heldAnswer.get(), "HTTP/1.1 200 OK");
  }
  {
    // One thread, held in an answer while a request comes on the connection idle the longest
    // and a new connection waits; once free, the thread accepts before it reads the request.
    HeldTiles tiles(dir.Path());
    HttpTileServer server(tiles, "127.0.0.1", 0, nullptr, {.idleSeconds = 600, .maxConnections = 2, .threads = 1});
    RawConnection arriving(server.Port()), inProgress(server.Port());
    ASSERT_EQ(arriving.Get(tile), "HTTP/1.1 200 OK");
    auto heldAnswer = std::async(std::launch::async, [&] { return inProgress.Get(heldTile); });
    ASSERT_TRUE(tiles.WaitUntilHeld());
    ASSERT_TRUE(arriving.Send(tile));
    RawConnection newcomer(server.Port());
    tiles.Release();
    EXPECT_EQ(arriving.Answer(), "HTTP/1.1 200 OK");
    EXPECT_EQ(heldAnswer.get(), "HTTP/1.1 200 OK");
  }
  FolderTiles tiles(dir.Path());
  HttpTileServer server(tiles, "127.0.0.1", 0, nullptr, {.idleSeconds = 1, .maxConnections = 3});
  RawConnection silent(server.Port()), afterAnAnswer(server.Port());
  EXPECT_EQ(afterAnAnswer.Get(tile), "HTTP/1.1 200 OK");
  EXPECT_EQ(silent.Receive(), "closed");
  EXPECT_EQ(afterAnAnswer.Receive(), "closed");
}

// Lowers this process's limit of open files until it is destroyed.
struct OpenFileLimit {
  rlimit saved{};
  explicit OpenFileLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &saved);
    Set(limit);
  }
  ~OpenFileLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
  void Set(rlim_t limit) const {
    const rlimit lowered{limit, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
};

TEST(DemoTileServer, AdmitsOnlyConnectionsItCanOpenTheirTileForAndSaysTryAgainWhenOutOfFiles) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "UndefinedBehaviorSanitizer reads an object's type through a pipe, and here every descriptor is in use";
#endif
  TempDir dir;
  qm::WriteFileAtomic(dir.File(SatelliteTileFileName(13, 0, 0)), "tile");
  const std::string tile = TestServer::TilePath(13, 0, 0);
  FolderTiles tiles(dir.Path());
  OpenFileLimit limit(70);  // half of it spare: 35 descriptors, a socket and a tile file each
  HttpTileServer server(tiles, "127.0.0.1", 0, nullptr, {.idleSeconds = 600, .threads = 1});
  std::vector<std::unique_ptr<RawConnection>> served;
  for (int c = 0; c < 17; ++c) {
    served.push_back(std::make_unique<RawConnection>(server.Port()));
    ASSERT_EQ(served.back()->Get(tile), "HTTP/1.1 200 OK") << c;
  }
  // Its one thread has closed the last answer's file once it has answered after it.
  ASSERT_EQ(served[0]->Get(TestServer::TilePath(13, 1, 0)), "HTTP/1.1 404 Not Found");
  const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(lowestFree);
  limit.Set(static_cast<rlim_t>(lowestFree));  // every descriptor it may have is in use
  EXPECT_EQ(served[1]->Get(tile), "HTTP/1.1 503 Service Unavailable");
  limit.Set(70);
  RawConnection newcomer(server.Port());
  EXPECT_EQ(newcomer.Get(tile), "HTTP/1.1 200 OK");
  EXPECT_EQ(served[2]->Receive(), "closed");
  // A client that leaves, however lately answered, frees its place; its close is taken in before
  // the answer after it.
  ASSERT_EQ(served[3]->Get(tile), "HTTP/1.1 200 OK");
  served[3].reset();
  ASSERT_EQ(served[4]->Get(tile), "HTTP/1.1 200 OK");
  RawConnection intoTheFreedPlace(server.Port());
  EXPECT_EQ(intoTheFreedPlace.Get(tile), "HTTP/1.1 200 OK");
  EXPECT_EQ(served[5]->Get(tile), "HTTP/1.1 200 OK");
}

TEST(DemoTileServer, ReadsOnlySmallRegularFilesForItsCertificateAndImage) {
  TempDir dir;
  qm::WriteFileAtomic(dir.File("cert.pem"), std::string(1000, 'c'));
  EXPECT_EQ(ReadSmallRegularFile(dir.File("cert.pem"), 1000), std::string(1000, 'c'));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), dir.File("fifo"), dir.File("missing")}) {
    EXPECT_THROW(ReadSmallRegularFile(path, 1000), std::runtime_error) << path;
  }
  try {
    ReadSmallRegularFile(dir.File("cert.pem"), 999);
    ADD_FAILURE() << "a file beyond the limit was read";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("cert.pem") + " is larger than 999 bytes");
  }
  TileServerProcess endlessCertificate({"--tls", "/dev/zero", dir.File("cert.pem")});
  EXPECT_EQ(endlessCertificate.Port(), 0);
  EXPECT_EQ(endlessCertificate.Stop(), 1);
  TileServerProcess endlessImage({"--image", "/dev/zero"});
  EXPECT_EQ(endlessImage.Stop(), 1);
}

// HTTPS: a throwaway self-signed certificate for 127.0.0.1, made with the openssl command.
struct HttpsTiles : ::testing::Test {
  TempDir dir;
  std::string certificate = dir.File("cert.pem");
  std::unique_ptr<TileServerProcess> server;

  void SetUp() override {
    const pid_t openssl = qmtest::SpawnProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                                "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                                                "-keyout", dir.File("key.pem"), "-out", certificate},
                                               -1, true);
    ASSERT_EQ(qmtest::WaitForExit(openssl), 0) << "the openssl command is needed";
    server = std::make_unique<TileServerProcess>(std::vector<std::string>{"--tls", certificate, dir.File("key.pem")});
    ASSERT_GT(server->Port(), 0) << server->StartLine();
  }
  void TearDown() override { ::unsetenv("QUILLMERE_CA_FILE"); }

  std::string Template() const {
    return "https://" + server->HostPort() + std::string(kSatelliteTilePath) + "{z}/{x}/{y}" +
           std::string(kSatelliteTileSuffix) + "?key=k1";
  }
  // One tile of zoom 13 through the template; the task when it ran to its end.
  const TDownTask* Download(qmtest::ControllerRig& rig) {
    StartInputs in = qmtest::ExampleInputs(dir);
    in.RightLongitude = in.LeftLongitude;
    in.BottomLatitude = in.TopLatitude;
    rig.controller.BitBtn1Click(in);
    EXPECT_TRUE(rig.RunToEnd());
    return rig.controller.CurrentTask();
  }
};

// Whether a TLS handshake with the server succeeds with the client held to one protocol version
// and to the cipher suites named (OpenSSL's names; the default, at security level 0, lets the
// client offer the old versions at all).
bool Handshakes(const std::string& url, long version, const char* suites = "DEFAULT@SECLEVEL=0") {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, version | (version << 16));  // minimum and maximum
  curl_easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, suites);
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return result == CURLE_OK;
}

TEST_F(HttpsTiles, OfferTls12And13WithForwardSecretSuitesOnly) {
  const std::string url = "https://" + server->HostPort() + TestServer::TilePath(1, 0, 0);
  EXPECT_TRUE(Handshakes(url, CURL_SSLVERSION_TLSv1_3));
  EXPECT_TRUE(Handshakes(url, CURL_SSLVERSION_TLSv1_2, "ECDHE-RSA-AES128-GCM-SHA256"));
  EXPECT_FALSE(Handshakes(url, CURL_SSLVERSION_TLSv1_2, "AES128-GCM-SHA256:AES256-SHA"));  // RSA key exchange
  EXPECT_FALSE(Handshakes(url, CURL_SSLVERSION_TLSv1_1));
  EXPECT_FALSE(Handshakes(url, CURL_SSLVERSION_TLSv1_0));
}

TEST_F(HttpsTiles, AreStoredThroughATemplateFromATrustedServer) {
  ::setenv("QUILLMERE_CA_FILE", certificate.c_str(), 1);
  qmtest::ControllerRig rig(dir, Template(), DownloadPauses::Zero());
  const TDownTask* task = Download(rig);
  ASSERT_NE(task, nullptr);
  const std::string tile = qm::ReadWholeFile(TileFilePath(*task, task->MinX, task->MinY));
  EXPECT_EQ(DecodeJpeg(tile).width, 256);
  EXPECT_TRUE(rig.controller.Failed().Lines().empty());
}

TEST_F(HttpsTiles, AnUntrustedCertificateIsAFailureLineThatSaysSo) {
  qmtest::ControllerRig rig(dir, Template(), DownloadPauses::Zero());
  const TDownTask* task = Download(rig);
  ASSERT_NE(task, nullptr);
  const std::string log = qm::ReadWholeFile(task->LogFile);
  EXPECT_NE(log.find("the server's certificate could not be verified"), std::string::npos) << log;
  EXPECT_EQ(log.find("key=k1"), std::string::npos);
  ASSERT_EQ(rig.controller.Failed().Lines().size(), 1u);
  EXPECT_NE(rig.controller.Failed().Lines()[0].find("?key=k1"), std::string::npos);
  // As for any other failure, the tile holds the blank image, never an answer of the server.
  EXPECT_EQ(qm::ReadWholeFile(TileFilePath(*task, task->MinX, task->MinY)),
            qm::ReadWholeFile(qm::ProgramFolder() + "blankimg/blank.jpg"));
}

TEST_F(HttpsTiles, GoThroughTheProxyAsATunnelWithItsCredentials) {
  ::setenv("QUILLMERE_CA_FILE", certificate.c_str(), 1);
  TestServer proxy;
  proxy.RequireProxyAuthorization("ann", "s3cret");
  qmtest::ControllerRig rig(dir, Template(), DownloadPauses::Zero());
  qm::IniFile config(dir.File("ini/config.ini"));
  config.WriteString("Proxy", "UseProxy", "1");
  config.WriteString("Proxy", "ProxyServer", "127.0.0.1");
  config.WriteString("Proxy", "ProxyPort", std::to_string(proxy.Port()));
  config.WriteString("Proxy", "ProxyUsername", "ann");
  config.WriteString("Proxy", "ProxyPassword", "s3cret");
  const TDownTask* task = Download(rig);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(DecodeJpeg(qm::ReadWholeFile(TileFilePath(*task, task->MinX, task->MinY))).width, 256);
  const std::vector<qmtest::RecordedRequest> requests = proxy.Requests();
  ASSERT_FALSE(requests.empty());
  for (const qmtest::RecordedRequest& request : requests) {
    EXPECT_EQ(request.method, "CONNECT");  // the tile's path and key never reach the proxy
    EXPECT_EQ(request.target, server->HostPort());
    EXPECT_EQ(request.answeredStatus, 200);
  }
}

}  // namespace
