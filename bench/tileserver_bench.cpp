// quillmere-tileserver's throughput: 2,000 tiles to 8 keep-alive clients with no pauses, while
// it renders them (empty cache) and once they are cached, next to the same clients reading
// tiles of the same size from the static local test server, and 8 threads reading the same
// tiles from disk.
#include <benchmark/benchmark.h>

#include <atomic>
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
  return *provider.Tile({kZoom, kMinX + kColumns / 2, kMinY + kRows / 2});
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

}  // namespace

BENCHMARK(BM_TileServerRendering)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TileServerCached)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StaticServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskReads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
