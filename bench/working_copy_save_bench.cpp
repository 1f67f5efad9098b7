// Cost of the periodic save every five seconds: the log working copy as it grows (10,000 against
// 1,000,000 lines; each iteration adds the lines of about five seconds of a full download), and
// the project file's update of every worker's last tile (in one replacement of the file, as the
// controller makes it, and in one per worker).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "download/working_copy.h"
#include "engine/Unitclasstask.h"
#include "engine/task_files.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
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

// The project file of a task of eight workers, and the keys of every worker's last tile.
struct ProjectSave {
  explicit ProjectSave(const TempDir& dir) {
    params.LeftLongitude = 116.3;
    params.RightLongitude = 116.5;
    params.TopLatitude = 40.0;
    params.BottomLatitude = 39.8;
    params.Zoom = 13;
    params.SavePath = dir.Path();
    params.TaskName = "bench.qmtp";
    task = std::make_unique<TDownTask>(&params);
    WriteProjectFile(*task);
  }
  std::vector<qm::IniFile::KeyValuePair> WorkerKeys(int worker, int32_t x) const {
    const std::string key = "T" + std::to_string(worker);
    return {{key + "X", std::to_string(x)}, {key + "Y", std::to_string(task->MinY + worker)}};
  }

  TDownParams params;
  std::unique_ptr<TDownTask> task;
};

// The project file's update every five seconds: all eight workers' columns and rows in one
// replacement of the file (argument 1, as the controller makes it) or one per worker (8).
void BM_PeriodicProjectSave(benchmark::State& state) {
  TempDir dir;
  const ProjectSave project(dir);
  qm::IniFile file(project.task->ProjectFile());
  const bool onePerWorker = state.range(0) == 8;
  int32_t x = project.task->MinX;
  for (auto _ : state) {
    ++x;
    std::vector<qm::IniFile::KeyValuePair> values;
    for (int n = 1; n <= 8; ++n) {
      if (onePerWorker) values.clear();
      for (auto& pair : project.WorkerKeys(n, x)) values.push_back(std::move(pair));
      if (onePerWorker) file.WriteStrings("THREADS", values);
    }
    if (!onePerWorker) file.WriteStrings("THREADS", values);
  }
}

BENCHMARK(BM_PeriodicProjectSave)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
