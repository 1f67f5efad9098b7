// Benchmark of starting the levels 0..19 of a level set over a city (every level's task files and
// tile list, through the set) against starting the same levels as single tasks, and the peak
// memory of each in a fresh process.
//
// Every level is downloaded from a local server with the pauses at zero, but only the starts are
// timed: for the single tasks each level's Start, for the set its Start and, after each level, the
// record of the finished level with the start of the next. Two small benchmarks time what the set
// adds on its own: the check of a set file at a Start and the record after each level. Run with
// --benchmark_enable_random_interleaving=true: the disk's drift is larger than the difference.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "download/level_set_run.h"
#include "platform/file_ops.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"

namespace {

constexpr ZoomRange kLevels{0, 19};

// Paris inside its ring road: about 50,000 tiles at zoom 19.
StartInputs City(const TempDir& dir) {
  return {"2.25", "2.42", "48.9", "48.81", "", dir.File("maps"), "city.qmtp"};
}

using Clock = std::chrono::steady_clock;

struct Started {
  int64_t tiles = 0;
  double startMs = 0;  // in the starts only (and the set's record of each level)
};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr std::chrono::minutes kLevelTimeout{5};

Started StartSingles(const TempDir& dir, const qmtest::TestServer& server) {
  qmtest::ControllerRig rig(dir, server);
  Started started;
  for (int32_t zoom = kLevels.first; zoom <= kLevels.last; ++zoom) {
    StartInputs level = City(dir);
    level.Zoom = std::to_string(zoom);
    level.TaskName = LevelTaskName(level.TaskName, zoom);
    const Clock::time_point start = Clock::now();
    rig.controller.BitBtn1Click(level);
    started.startMs += MsSince(start);
    if (!rig.controller.Running()) return {-1, 0};
    started.tiles += rig.controller.CurrentTask()->TotalCount;
    if (!rig.RunToEnd(kLevelTimeout)) return {-1, 0};
  }
  return started;
}

// The set runs as it does for the user: its Start, then after each level the record of the
// finished level and the next level's start.
Started StartSet(const TempDir& dir, const qmtest::TestServer& server) {
  qmtest::ControllerRig rig(dir, server);
  LevelSetRun run(rig.controller, rig.view);
  Started started;
  Clock::time_point start = Clock::now();
  if (run.Start(City(dir), kLevels) != LevelSetRun::Outcome::kRunning) return {-1, 0};
  started.startMs += MsSince(start);
  for (bool running = true; running;) {
    started.tiles += rig.controller.CurrentTask()->TotalCount;
    if (!rig.RunToEnd(kLevelTimeout)) return {-1, 0};
    start = Clock::now();
    running = run.LevelEnded(false);
    started.startMs += MsSince(start);
  }
  return run.End() == DownloadEnd::kComplete ? started : Started{-1, 0};
}

using Variant = Started (*)(const TempDir&, const qmtest::TestServer&);

// Every iteration's time of each variant, over all repetitions; the fastest and the median are
// reported: the machine's drift is larger than the cost measured.
std::map<std::string, std::vector<double>>& IterationMs() {
  static std::map<std::string, std::vector<double>> times;
  return times;
}

void Run(benchmark::State& state, Variant variant, const char* name) {
  Started started;
  for (auto _ : state) {
    ::sync();  // the files of the iteration before are on the disk, not still going there
    qmtest::TestServer server;  // it records every request: a new one each time
    TempDir dir;
    started = variant(dir, server);
    IterationMs()[name].push_back(started.startMs);
    state.SetIterationTime(started.startMs / 1000);
  }
  if (started.tiles < 0) state.SkipWithError("a level did not start or end");
  state.counters["tiles"] = static_cast<double>(started.tiles);
}

void BM_StartLevelsAsSingleTasks(benchmark::State& state) { Run(state, StartSingles, "singles"); }
void BM_StartLevelsAsASet(benchmark::State& state) { Run(state, StartSet, "set"); }
BENCHMARK(BM_StartLevelsAsSingleTasks)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)->Repetitions(3);
BENCHMARK(BM_StartLevelsAsASet)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)->Repetitions(3);

// What a Start that continues a set reads and checks first: the set file and the task files of
// its twenty levels.
void BM_ReadAndCheckTwentyLevels(benchmark::State& state) {
  qmtest::TestServer server;
  TempDir dir;
  if (StartSet(dir, server).tiles < 0) state.SkipWithError("a level did not start or end");
  const std::string setFile = City(dir).Folder + "/" + LevelSetFileName(City(dir).TaskName);
  for (auto _ : state) benchmark::DoNotOptimize(ReadLevelSet(setFile));
}
BENCHMARK(BM_ReadAndCheckTwentyLevels)->Unit(benchmark::kMicrosecond);

// What the set adds after each level: the record of the finished level in the set file.
void BM_RecordFinishedLevel(benchmark::State& state) {
  TempDir dir;
  const StartInputs city = City(dir);
  LevelSet set{city.LeftLongitude, city.RightLongitude, city.TopLatitude, city.BottomLatitude,
               city.Folder, city.TaskName, kLevels, {}, std::nullopt};
  int32_t zoom = kLevels.first;
  for (auto _ : state) {
    set.finished.insert(zoom++ % kLevels.LevelCount());
    RecordFinishedLevel(dir.File("city.qmset"), set);
  }
}
BENCHMARK(BM_RecordFinishedLevel)->Unit(benchmark::kMicrosecond);

constexpr const char* kVariantFlag = "--only=";

// Peak resident memory of a fresh process that downloads every level one way (the local server's
// record of every request is most of it, the same for both).
long PeakKiBOfFreshProcess(const std::string& variant) {
  const pid_t child = qmtest::SpawnProgram({qm::ProgramFolder() + "level_set_bench", kVariantFlag + variant});
  long peakKb = -1;
  return qmtest::WaitForExit(child, &peakKb) == 0 ? peakKb : -1;
}

struct Figures {
  double fastestMs = 0;
  double medianMs = 0;
};

Figures FiguresOf(std::vector<double> ms) {
  if (ms.empty()) return {};
  std::sort(ms.begin(), ms.end());
  return {ms.front(), ms[ms.size() / 2]};
}

void PrintSummary() {
  const Figures singles = FiguresOf(IterationMs()["singles"]);
  const Figures set = FiguresOf(IterationMs()["set"]);
  std::printf("\nStarting levels %d to %d as single tasks: fastest %.1f ms, median %.1f ms; as a set: fastest %.1f ms, "
              "median %.1f ms; ratio %.3f fastest, %.3f median (goal: at most 1.1)\n",
              kLevels.first, kLevels.last, singles.fastestMs, singles.medianMs, set.fastestMs, set.medianMs,
              singles.fastestMs > 0 ? set.fastestMs / singles.fastestMs : 0.0,
              singles.medianMs > 0 ? set.medianMs / singles.medianMs : 0.0);
  std::printf("Peak resident memory of a fresh process downloading every level: single tasks %ld KiB, set %ld KiB\n",
              PeakKiBOfFreshProcess("single"), PeakKiBOfFreshProcess("set"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strncmp(argv[1], kVariantFlag, std::strlen(kVariantFlag)) == 0) {
    qmtest::TestServer server;
    TempDir dir;
    const bool set = std::strcmp(argv[1] + std::strlen(kVariantFlag), "set") == 0;
    return (set ? StartSet(dir, server) : StartSingles(dir, server)).tiles > 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  return 0;
}
