// Building a download task from a shape: reading and widening it, rasterising it onto the tile
// grid, and writing the task's project, area file and tile list. A 300 km GPX track widened by
// 1 km at zoom 18, and a country outline of 100,000 vertices at zoom 14. Goals: each under 2 s and
// 100 MB; run each alone (--benchmark_filter) for its own peak.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <string>

#include "platform/file_ops.h"
#include "engine/Unitclasstask.h"
#include "shape/task_area_shape.h"
#include "tests/support/temp_dir.h"

namespace {

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;
}

// A track wandering north-east over about 300 km, a point every 100 m.
std::string TrackGpx() {
  std::string gpx = R"(<?xml version="1.0"?><gpx version="1.1" creator="bench" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>)";
  for (int i = 0; i <= 3000; ++i) {
    const double t = i / 3000.0;
    const double lat = 46.0 + 1.9 * t + 0.05 * std::sin(t * 60);
    const double lon = 7.0 + 1.6 * t + 0.08 * std::cos(t * 45);
    gpx += "<trkpt lat=\"" + std::to_string(lat) + "\" lon=\"" + std::to_string(lon) + "\"/>";
  }
  return gpx + "</trkseg></trk></gpx>";
}

// An outline of 100,000 vertices about 300 km across, its coast ragged at every scale.
std::string CountryGeoJson() {
  std::string json = R"({"type": "Polygon", "coordinates": [[)";
  constexpr int kVertices = 100000;
  for (int i = 0; i <= kVertices; ++i) {
    const double a = 2 * M_PI * (i % kVertices) / kVertices;
    const double r = 1.4 * (1 + 0.1 * std::sin(7 * a) + 0.03 * std::sin(97 * a) + 0.01 * std::sin(1013 * a));
    json += (i ? "," : "") + std::string("[") + std::to_string(10 + r * std::cos(a) * 1.4) + "," +
            std::to_string(50 + r * std::sin(a)) + "]";
  }
  return json + "]]}";
}

void Run(benchmark::State& state, const std::string& name, const std::string& text, double buffer, int zoom) {
  TempDir dir;
  qm::WriteFileAtomic(dir.File(name), text);
  int64_t tiles = 0;
  for (auto _ : state) {
    const std::shared_ptr<const TaskArea> area = TaskAreaFromFile(dir.File(name), buffer);
    const AreaFieldTexts box = FieldTextsOf(*area);
    TDownParams params;
    params.LeftLongitude = std::stod(box.left);
    params.RightLongitude = std::stod(box.right);
    params.TopLatitude = std::stod(box.top);
    params.BottomLatitude = std::stod(box.bottom);
    params.Zoom = zoom;
    params.SavePath = dir.Path();
    params.TaskName = "task.qmtp";
    params.Area = area;
    const TDownTask task(&params);
    WriteProjectFile(task);
    WriteListFile(task);
    tiles = task.TotalCount;
  }
  state.counters["tiles"] = static_cast<double>(tiles);
  state.counters["peak_MB"] = PeakMegabytes();
}

void BM_Track300kmBuffer1kmZoom18(benchmark::State& state) { Run(state, "track.gpx", TrackGpx(), 1000, 18); }
void BM_Country100kVerticesZoom14(benchmark::State& state) { Run(state, "country.geojson", CountryGeoJson(), 0, 14); }
BENCHMARK(BM_Track300kmBuffer1kmZoom18)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Country100kVerticesZoom14)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
