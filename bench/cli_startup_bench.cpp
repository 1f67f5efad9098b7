// quillmere-cli from its start to the first tile request the local test server receives: the
// process is spawned, the first request's arrival is the end of the timing, then the process is
// killed. The goal is under 50 ms.
#include <benchmark/benchmark.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"

namespace {

void BM_CliStartToFirstRequest(benchmark::State& state) {
  qmtest::TestServer server;
  server.SetFallback(qmtest::ScriptedAnswer::Ok("tile").Delayed(5000));
  for (auto _ : state) {
    TempDir dir;
    const std::string config = qmtest::WriteConfig(dir, server);
    std::vector<std::string> args = {QUILLMERE_CLI_PATH, "start", "--left=-74.0", "--right=-73.9", "--top=40.7",
                                     "--bottom=40.6", "--zoom=13", "--folder", dir.File("maps"), "--config", config,
                                     "--quiet"};
    const size_t before = server.RequestCount();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = qmtest::SpawnProgram(args);
    if (pid <= 0) {
      state.SkipWithError("cannot start quillmere-cli");
      break;
    }
    for (int i = 0; i < 20000 && server.RequestCount() == before; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const auto first = server.RequestCount() > before ? server.Requests()[before].time : std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(first - start).count());
    kill(pid, SIGKILL);
    qmtest::WaitForExit(pid);
  }
}

}  // namespace

BENCHMARK(BM_CliStartToFirstRequest)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_MAIN();
