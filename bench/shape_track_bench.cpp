// Areas from large shapes through the command line, as a user runs them: `quillmere-cli estimate
// --area FILE --buffer 500 --zoom 16` (reading, widening and covering in quillmere-area) on
// recorded-like tracks of 100,000 and 1,000,000 points (a wandering walk, a point every 3 m, GPS
// noise of 4 m), and `--zoom 14` on a polygon of 2,000,000 vertices. Wall time and peak memory of
// the whole run, as `/usr/bin/time -v` reports them. Goals: the 1,000,000-point track under 15 s
// and 400 MB, the 100,000-point track under 150 MB.
// Usage: shape_track_bench [--keep FOLDER]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "platform/file_ops.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

std::string TrackGpx(int points) {
  std::mt19937 random(7);
  std::normal_distribution<double> turn(0, 0.05), noise(0, 4);
  constexpr double kMetresPerDegree = 111320, kStep = 3;
  double lat = 46, lon = 7, heading = 0.3;
  std::string gpx =
      R"(<?xml version="1.0"?><gpx version="1.1" creator="bench" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>)";
  for (int i = 0; i < points; ++i) {
    heading += turn(random);
    const double perLon = kMetresPerDegree * std::cos(lat * M_PI / 180);
    lat += kStep * std::cos(heading) / kMetresPerDegree;
    lon += kStep * std::sin(heading) / perLon;
    char point[96];
    std::snprintf(point, sizeof point, "<trkpt lat=\"%.7f\" lon=\"%.7f\"/>\n", lat + noise(random) / kMetresPerDegree,
                  lon + noise(random) / perLon);
    gpx += point;
  }
  return gpx + "</trkseg></trk></gpx>\n";
}

// A coast ragged at every scale, about 300 km across.
std::string PolygonGeoJson(int vertices) {
  std::string json =
      R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{},"geometry":{"type":"Polygon","coordinates":[[)";
  for (int i = 0; i <= vertices; ++i) {
    const double a = 2 * M_PI * (i % vertices) / vertices;
    const double r = 1.4 * (1 + 0.1 * std::sin(7 * a) + 0.03 * std::sin(97 * a) + 0.01 * std::sin(1013 * a) +
                            0.002 * std::sin(10007 * a));
    char point[96];
    std::snprintf(point, sizeof point, "%s[%.15f,%.15f]", i ? "," : "", 10 + r * std::cos(a) * 1.4,
                  50 + r * std::sin(a));
    json += point;
  }
  return json + "]]}}]}";
}

// Measured by /usr/bin/time, started from a small process, so that the figures are those of the
// command line and its reader alone.
void Run(const std::string& folder, const char* what, const std::string& file, const char* buffer, const char* zoom,
         double goalMb, double goalS) {
  const std::string figures = folder + "time.txt";
  const int status =
      qmtest::WaitForExit(qmtest::SpawnProgram({"/usr/bin/time", "-f", "%e %M", "-o", figures, QUILLMERE_CLI_PATH,
                                                "estimate", "--area", file, "--buffer", buffer, "--zoom", zoom},
                                               -1, true));
  double seconds = 0, kb = 0;
  if (std::sscanf(qm::ReadWholeFile(figures).c_str(), "%lf %lf", &seconds, &kb) != 2) {
    std::printf("%s: no figures (is /usr/bin/time installed?)\n", what);
    return;
  }
  const double mb = kb / 1024;
  std::printf("%-36s %7.2f s %8.1f MB  status %d", what, seconds, mb, status);
  if (goalMb > 0) {
    const bool met = mb < goalMb && (goalS <= 0 || seconds < goalS);
    std::printf("   goal under %.0f MB%s: %s", goalMb,
                goalS > 0 ? (" and " + std::to_string(int(goalS)) + " s").c_str() : "", met ? "met" : "MISSED");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char* argv[]) {
  TempDir temp;
  const std::string folder =
      argc == 3 && std::strcmp(argv[1], "--keep") == 0 ? qm::WithTrailingSeparator(argv[2]) : temp.Path();
  const auto make = [&](const std::string& name, auto&& text) {
    if (!qm::FileExists(folder + name)) qm::WriteFileAtomic(folder + name, text());
    return folder + name;
  };
  const std::string small = make("track_100k.gpx", [] { return TrackGpx(100000); });
  const std::string large = make("track_1m.gpx", [] { return TrackGpx(1000000); });
  const std::string polygon = make("polygon_2m.geojson", [] { return PolygonGeoJson(2000000); });
  Run(folder, "track 100,000 points, 500 m, z16", small, "500", "16", 150, 0);
  Run(folder, "track 1,000,000 points, 500 m, z16", large, "500", "16", 400, 15);
  Run(folder, "polygon 2,000,000 vertices, z14", polygon, "0", "14", 0, 0);
}
