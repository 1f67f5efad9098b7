// The cost of the tile list's progress dialog: the list of a task of 100 million tiles built and
// written to /dev/null, once without progress and once with the main window's live progress
// dialog.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>

#include <cstdlib>

#include "engine/Unitclasstask.h"
#include "engine/task_files.h"
#include "tests/support/temp_dir.h"
#include "ui/list_progress_dialog.h"

namespace {

// 10,000 columns by 10,000 rows at zoom 17.
TDownParams HundredMillionTiles(const std::string& savePath) {
  TDownParams p;
  p.LeftLongitude = 0;
  p.RightLongitude = 360.0 * 9999.5 / 131072;
  p.TopLatitude = 60;
  p.BottomLatitude = 43.2;
  p.Zoom = 17;
  p.SavePath = savePath;
  p.TaskName = "huge.qmtp";
  return p;
}

void WriteList(benchmark::State& state, bool withDialog) {
  TempDir dir;
  TDownParams params = HundredMillionTiles(dir.Path());
  const TDownTask task(&params);
  const int devNull = ::open("/dev/null", O_WRONLY);
  const auto sink = [devNull](std::string_view piece) { benchmark::DoNotOptimize(::write(devNull, piece.data(), piece.size())); };
  for (auto _ : state) {
    ListProgressDialog dialog(nullptr);
    ListProgress keepGoing;
    if (withDialog) keepGoing = [&](int64_t written) { return dialog.Update(written, task.TotalCount); };
    benchmark::DoNotOptimize(StreamTileList(task, sink, keepGoing));
  }
  ::close(devNull);
  state.counters["tiles"] = task.TotalCount;
  state.SetItemsProcessed(state.iterations() * task.TotalCount);
}

void BM_TileListWithoutDialog(benchmark::State& state) { WriteList(state, false); }
void BM_TileListWithLiveDialog(benchmark::State& state) { WriteList(state, true); }

}  // namespace

BENCHMARK(BM_TileListWithoutDialog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_TileListWithLiveDialog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
