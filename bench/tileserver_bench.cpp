// quillmere-tileserver's throughput: 2,000 tiles to 8 keep-alive clients with no pauses, while
// it renders them (empty cache) and once they are cached, next to the same clients reading
// tiles of the same size from the static local test server, and 8 threads reading the same
// tiles from disk. Then 40,000 cached tiles to 256 keep-alive connections at once, which
// reports an error instead of a time when answers stop coming, and how long a new client waits
// for its tile while 1,100 idle connections, more than the server's limit, are held open.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "demo/http_tile_server.h"
#include "demo/tile_provider.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

constexpr const char* kWorldImage = "/usr/share/xplanet/images/earth.jpg";
constexpr int kClients = 8;
constexpr int kZoom = 12;
constexpr int kMinX = 2000, kMinY = 1300, kColumns = 20, kRows = 100;
constexpr int kTiles = kColumns * kRows;
constexpr size_t kCacheBytes = size_t{256} << 20;

std::string TilePath(int x, int y) { return qmtest::TestServer::TilePath(kZoom, x, y); }

// Each client takes every eighth tile on its own keep-alive connection.
void FetchAll(const std::string& hostPort) {
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&hostPort, c] {
      qm::HttpClient client;
      std::string body;
      for (int t = c; t < kTiles; t += kClients) {
        client.Get("http://" + hostPort + TilePath(kMinX + t / kRows, kMinY + t % kRows), body);
      }
    });
  }
  for (auto& client : clients) client.join();
}

void RunRendered(benchmark::State& state, bool cached) {
  qm::HttpGlobalInit();
  for (auto _ : state) {
    state.PauseTiming();
    auto provider = std::make_unique<RenderedTiles>(kWorldImage, kCacheBytes);
    HttpTileServer server(*provider, "127.0.0.1", 0);
    const std::string hostPort = "127.0.0.1:" + std::to_string(server.Port());
    if (cached) FetchAll(hostPort);
    state.ResumeTiming();
    FetchAll(hostPort);
  }
  state.SetItemsProcessed(state.iterations() * kTiles);
}

void BM_TileServerRendering(benchmark::State& state) { RunRendered(state, false); }
void BM_TileServerCached(benchmark::State& state) { RunRendered(state, true); }

// A tile of typical size for the static server and the disk reads.
std::string TypicalTile() {
  RenderedTiles provider(kWorldImage, kCacheBytes);
  return *provider.Tile({kZoom, kMinX + kColumns / 2, kMinY + kRows / 2}).bytes;
}

void BM_StaticServer(benchmark::State& state) {
  qm::HttpGlobalInit();
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Ok(TypicalTile()));
  for (auto _ : state) FetchAll(server.HostPort());
  state.SetItemsProcessed(state.iterations() * kTiles);
}

void BM_DiskReads(benchmark::State& state) {
  TempDir dir;
  const std::string tile = TypicalTile();
  for (int t = 0; t < kTiles; ++t) qm::WriteFileAtomic(dir.File(std::to_string(t) + ".jpg"), tile);
  for (auto _ : state) {
    std::vector<std::thread> readers;
    for (int c = 0; c < kClients; ++c) {
      readers.emplace_back([&dir, c] {
        for (int t = c; t < kTiles; t += kClients) {
          benchmark::DoNotOptimize(qm::ReadWholeFile(dir.File(std::to_string(t) + ".jpg")));
        }
      });
    }
    for (auto& reader : readers) reader.join();
  }
  state.SetItemsProcessed(state.iterations() * kTiles);
}

// One keep-alive connection of the many: sends a tile request, reads the whole answer, again.
struct LoadConnection {
  int fd = -1;
  bool closed = false;
  std::string received;

  bool Open(uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    return fd >= 0 && (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno == EINPROGRESS);
  }
  bool Send(int tile) {
    const int t = tile % kTiles;
    const std::string request = "GET " + TilePath(kMinX + t / kRows, kMinY + t % kRows) + " HTTP/1.1\r\nHost: l\r\n\r\n";
    return send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
  }
  // Reads what is there; true once a whole answer is in (and dropped).
  bool ReadAnswer() {
    char buf[65536];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) received.append(buf, static_cast<size_t>(n));
    closed = n == 0;
    const size_t headEnd = received.find("\r\n\r\n");
    const size_t length = received.find("Content-Length: ");
    if (headEnd == std::string::npos || length == std::string::npos) return false;
    const size_t total = headEnd + 4 + std::stoul(received.substr(length + 16));
    if (received.size() < total) return false;
    received.erase(0, total);
    return true;
  }
};

// Runs `requests` requests over `connections` connections at once; stops when for 10 s no
// answer came. What went wrong, or "" when every request was answered.
std::string ManyKeepAliveClients(uint16_t port, int connections, int requests) {
  std::vector<LoadConnection> load(static_cast<size_t>(connections));
  std::vector<pollfd> polled(load.size());
  int sent = 0, answered = 0, waiting = 0, closed = 0;
  for (size_t c = 0; c < load.size(); ++c) {
    if (!load[c].Open(port)) return "cannot connect";
    polled[c] = {load[c].fd, POLLOUT, 0};
  }
  while (answered < requests && poll(polled.data(), polled.size(), 10000) > 0) {
    for (size_t c = 0; c < load.size(); ++c) {
      if (polled[c].revents == 0) continue;
      const bool answer = polled[c].events == POLLIN && load[c].ReadAnswer();
      if (polled[c].events == POLLIN && !answer) {
        if (load[c].closed) polled[c].fd = -1, ++closed;
        continue;
      }
      answered += answer;
      polled[c].events = sent < requests && load[c].Send(sent++) ? POLLIN : 0;
    }
  }
  for (const pollfd& p : polled) waiting += p.fd >= 0 && p.events == POLLIN;
  for (LoadConnection& connection : load) close(connection.fd);
  if (answered == requests) return "";
  return std::to_string(closed) + " connections closed, " + std::to_string(waiting) + " without an answer for 10 s";
}

void BM_TileServer256KeepAlive(benchmark::State& state) {
  qm::HttpGlobalInit();
  constexpr int kConnections = 256, kRequests = 40000;
  RenderedTiles provider(kWorldImage, kCacheBytes);
  HttpTileServer server(provider, "127.0.0.1", 0);
  FetchAll("127.0.0.1:" + std::to_string(server.Port()));
  for (auto _ : state) {
    if (const std::string fault = ManyKeepAliveClients(server.Port(), kConnections, kRequests); !fault.empty()) {
      state.SkipWithError(fault.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kRequests);
}

// Opens again every one of the idle connections that is not open, or that the server closed
// (they never send, so anything readable on them is the server's end).
void HoldIdle(std::vector<LoadConnection>& idle, uint16_t port) {
  std::vector<pollfd> polled;
  for (const LoadConnection& connection : idle) polled.push_back({connection.fd, POLLIN, 0});
  poll(polled.data(), polled.size(), 0);
  for (size_t c = 0; c < idle.size(); ++c) {
    if (idle[c].fd >= 0 && polled[c].revents == 0) continue;
    if (idle[c].fd >= 0) close(idle[c].fd);
    idle[c].Open(port);
  }
}

// A new client's tile, while 1,100 idle connections (beyond the server's 1,024) are held open and
// those it closes are opened again, as a client that means to lock others out would.
void BM_TileServerBeside1100IdleConnections(benchmark::State& state) {
  qm::HttpGlobalInit();
  rlimit files{};  // the server and the idle clients share this process's descriptors
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  RenderedTiles provider(kWorldImage, kCacheBytes);
  HttpTileServer server(provider, "127.0.0.1", 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + TilePath(kMinX, kMinY);
  std::vector<LoadConnection> idle(1100);
  double slowest = 0;
  for (auto _ : state) {
    state.PauseTiming();
    HoldIdle(idle, server.Port());
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    qm::HttpClient client;
    std::string body;
    if (!client.Get(url, body).ok) {
      state.SkipWithError("a new client got no tile");
      break;
    }
    const std::chrono::duration<double, std::milli> waited = std::chrono::steady_clock::now() - start;
    slowest = std::max(slowest, waited.count());
  }
  for (LoadConnection& connection : idle) close(connection.fd);
  state.counters["slowest_ms"] = slowest;
}

}  // namespace

BENCHMARK(BM_TileServerRendering)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TileServerCached)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StaticServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskReads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TileServer256KeepAlive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);
BENCHMARK(BM_TileServerBeside1100IdleConnections)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
BENCHMARK_MAIN();
