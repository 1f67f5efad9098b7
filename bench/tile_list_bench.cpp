// Benchmark of writing the tile list of a task of about a million tiles, against one plain buffered
// write of the same number of bytes, and of the writer's peak memory at two task sizes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/Unitclasstask.h"
#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"

namespace {

// A box around a city at zoom 17; `scale` 1 gives about 1,000 x 1,000 tiles, 0.5 a quarter of that.
TDownParams CityParams(const std::string& savePath, double scale) {
  TDownParams p;
  p.LeftLongitude = -75.0;
  p.RightLongitude = -75.0 + 2.745 * scale;
  p.TopLatitude = 41.8;
  p.BottomLatitude = 41.8 - 2.08 * scale;
  p.Zoom = 17;
  p.SavePath = savePath;
  p.TaskName = "city.qmtp";
  return p;
}

TempDir& BenchFolder() {
  static TempDir folder;
  return folder;
}

std::size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return static_cast<std::size_t>(in.tellg());
}

// Bytes of the full-size list, written once before the timings.
std::size_t ListBytes() {
  static const std::size_t bytes = [] {
    TDownParams p = CityParams(BenchFolder().Path(), 1.0);
    const TDownTask task(&p);
    WriteListFile(task);
    return FileSize(task.ListFile);
  }();
  return bytes;
}

void BM_WriteTileList(benchmark::State& state) {
  TDownParams p = CityParams(BenchFolder().Path(), 1.0);
  const TDownTask task(&p);
  for (auto _ : state) WriteListFile(task);
  state.counters["tiles"] = task.TotalCount;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * ListBytes()));
}
BENCHMARK(BM_WriteTileList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The same number of bytes, prepared in memory beforehand, in one fwrite of a buffered stream.
void BM_PlainBufferedWrite(benchmark::State& state) {
  const std::string bytes(ListBytes(), 'x');
  const std::string path = BenchFolder().Path() + "plain.txt";
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_PlainBufferedWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Keeps the real time per iteration of every run for the closing comparison.
class ComparingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) realMs_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double RealMs(const std::string& prefix) const {
    for (const auto& [name, ms] : realMs_) {
      if (name.rfind(prefix, 0) == 0) return ms;
    }
    return 0;
  }

 private:
  std::map<std::string, double> realMs_;
};

// Peak resident memory of this process in KiB (the mm's high-water mark, fresh after exec).
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

constexpr const char* kMeasureFlag = "--measure-peak-memory=";

// In a fresh process: build the task of the given scale, write its list, print tiles and peak.
int MeasureInThisProcess(double scale) {
  TempDir folder;
  TDownParams p = CityParams(folder.Path(), scale);
  const TDownTask task(&p);
  WriteListFile(task);
  std::printf("%d %ld\n", task.TotalCount, PeakResidentKiB());
  return 0;
}

struct PeakMemory {
  long tiles = 0;
  long kib = 0;
};

PeakMemory MeasureInFreshProcess(double scale) {
  const std::string command =
      qm::ProgramFolder() + "tile_list_bench " + kMeasureFlag + std::to_string(scale);
  PeakMemory result;
  if (std::FILE* child = ::popen(command.c_str(), "r")) {
    if (std::fscanf(child, "%ld %ld", &result.tiles, &result.kib) != 2) result = {};
    ::pclose(child);
  }
  return result;
}

void PrintSummary(const ComparingReporter& reporter) {
  const double listMs = reporter.RealMs("BM_WriteTileList");
  const double plainMs = reporter.RealMs("BM_PlainBufferedWrite");
  std::printf("\nTile list: %zu bytes in %.1f ms; plain buffered write of as many bytes: %.1f ms; "
              "ratio %.2f (goal: at most 2)\n",
              ListBytes(), listMs, plainMs, plainMs > 0 ? listMs / plainMs : 0.0);
  const PeakMemory quarter = MeasureInFreshProcess(0.5);
  const PeakMemory full = MeasureInFreshProcess(1.0);
  std::printf("Peak resident memory of a process that builds the task and writes its list:\n"
              "  %9ld tiles: %ld KiB\n  %9ld tiles: %ld KiB\n"
              "  growth for %.1fx the tiles: %ld KiB\n",
              quarter.tiles, quarter.kib, full.tiles, full.kib,
              quarter.tiles > 0 ? static_cast<double>(full.tiles) / quarter.tiles : 0.0,
              full.kib - quarter.kib);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strncmp(argv[1], kMeasureFlag, std::strlen(kMeasureFlag)) == 0) {
    return MeasureInThisProcess(std::atof(argv[1] + std::strlen(kMeasureFlag)));
  }
  benchmark::Initialize(&argc, argv);
  ComparingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
