// Throughput of 8 download workers with zero pauses against the local test server, next to 8
// plain libcurl handles making the same requests in parallel (the ceiling), the same handles also
// storing each tile file, and 8 of the program's own clients. The workers store every tile, so
// set TMPDIR to a memory file system (e.g. /dev/shm) to keep the disk out of the comparison.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

constexpr int kWorkers = 8;
constexpr int kColumns = 20;
constexpr int kRows = 100;
constexpr int kTiles = kColumns * kRows;

size_t KeepBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// One thread's share of the requests on one easy handle, as a worker would divide them; with a
// folder, each body is also stored as a tile file the way a worker stores it.
void PlainCurlShare(const qmtest::TestServer& server, int index, const std::string& folder) {
  CURL* curl = curl_easy_init();
  std::string body;
  for (int s = 1; s <= kTiles; ++s) {
    if (s % kWorkers != index) continue;
    int x = qmtest::WorkerHarness::kMinX + (s - 1) / kRows;
    int y = qmtest::WorkerHarness::kMinY + (s - 1) % kRows;
    std::string url = server.Url(qmtest::TestServer::TilePath(qmtest::WorkerHarness::kZoom, x, y));
    body.clear();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &KeepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(curl);
    if (!folder.empty()) {
      qm::WriteFileAtomicUnflushed(
          folder + "kv_" + std::to_string(x) + "_" + std::to_string(y) + ".jpg", body);
    }
  }
  curl_easy_cleanup(curl);
}

void RunPlainCurl(benchmark::State& state, bool storeFiles) {
  qm::HttpGlobalInit();
  qmtest::TestServer server;
  for (auto _ : state) {
    state.PauseTiming();
    auto folder = std::make_unique<TempDir>();
    state.ResumeTiming();
    std::vector<std::thread> threads;
    for (int i = 0; i < kWorkers; ++i) {
      threads.emplace_back(PlainCurlShare, std::cref(server), i,
                           storeFiles ? folder->Path() : std::string());
    }
    for (auto& t : threads) t.join();
    state.PauseTiming();
    folder.reset();
    state.ResumeTiming();
  }
  state.counters["tiles_per_s"] =
      benchmark::Counter(static_cast<double>(kTiles) * state.iterations(),
                         benchmark::Counter::kIsRate);
}

// The same requests through the program's own client, to tell client cost from worker cost.
void ClientShare(const qmtest::TestServer& server, int index) {
  qm::HttpClient client;
  std::string body;
  for (int s = 1; s <= kTiles; ++s) {
    if (s % kWorkers != index) continue;
    int x = qmtest::WorkerHarness::kMinX + (s - 1) / kRows;
    int y = qmtest::WorkerHarness::kMinY + (s - 1) % kRows;
    body.clear();
    client.Get(server.Url(qmtest::TestServer::TilePath(qmtest::WorkerHarness::kZoom, x, y)), body);
  }
}

// The ceiling: requests only.
void BM_PlainCurlHandles(benchmark::State& state) { RunPlainCurl(state, false); }
// Requests and the tile files, without the worker's walk, lines and bridge.
void BM_PlainCurlHandlesStoringFiles(benchmark::State& state) { RunPlainCurl(state, true); }

void BM_HttpClients(benchmark::State& state) {
  qmtest::TestServer server;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int i = 0; i < kWorkers; ++i) threads.emplace_back(ClientShare, std::cref(server), i);
    for (auto& t : threads) t.join();
  }
  state.counters["tiles_per_s"] =
      benchmark::Counter(static_cast<double>(kTiles) * state.iterations(),
                         benchmark::Counter::kIsRate);
}

void BM_DownloadWorkers(benchmark::State& state) {
  qmtest::TestServer server;
  for (auto _ : state) {
    state.PauseTiming();
    auto run = std::make_unique<qmtest::WorkerHarness>(server.HostPort(), kColumns, kRows,
                                                       kWorkers);
    state.ResumeTiming();
    run->Start(DownloadPauses::Zero());
    if (!run->WaitUntilDone(std::chrono::minutes(5)) ||
        run->host.log.size() != static_cast<size_t>(kTiles + kWorkers)) {
      state.SkipWithError("the workers did not store every tile");
      break;
    }
    state.PauseTiming();
    run.reset();  // removing the tile folder is not part of the measured work
    state.ResumeTiming();
  }
  state.counters["tiles_per_s"] =
      benchmark::Counter(static_cast<double>(kTiles) * state.iterations(),
                         benchmark::Counter::kIsRate);
}

// Real time: the work happens on other threads.
BENCHMARK(BM_PlainCurlHandles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainCurlHandlesStoringFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_HttpClients)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_DownloadWorkers)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
