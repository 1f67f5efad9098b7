// Cost of the periodic save of a log working copy as it grows: 10,000 against 1,000,000 lines.
// Each iteration adds the lines of about five seconds of a full download and saves.
#include <benchmark/benchmark.h>

#include "download/working_copy.h"
#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"

namespace {

void BM_PeriodicLogSave(benchmark::State& state) {
  TempDir dir;
  const std::string path = dir.File("task_log.txt");
  WorkingCopy log;
  for (int64_t i = 0; i < state.range(0); ++i) {
    log.Append("T" + std::to_string(i % 8 + 1) + ":seq=" + std::to_string(i) + ",kv_123456_654321_19.jpg OK");
  }
  log.SaveToFile(path);  // the first save writes everything once
  int64_t seq = state.range(0);
  for (auto _ : state) {
    for (int i = 0; i < 40; ++i) {
      log.Append("T" + std::to_string(i % 8 + 1) + ":seq=" + std::to_string(++seq) + ",kv_123456_654321_19.jpg OK");
    }
    log.SaveToFile(path);
  }
  state.counters["lines"] = static_cast<double>(log.Lines().size());
}

BENCHMARK(BM_PeriodicLogSave)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
