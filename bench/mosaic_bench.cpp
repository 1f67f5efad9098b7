// mapcombiner against GDAL's own tools on the same 10,000 tiles: a GeoTIFF with overviews from
// mapcombiner (at 2,500 and 10,000 tiles, with the child's peak memory, deflate and JPEG) and from
// gdalbuildvrt + gdal_translate (a plain GeoTIFF, and a COG with the same compression on every
// core); a VRT of 10,000 tiles under a limit of 256 open files; MBTiles export, and MBTiles and
// GeoPackage with four lower levels, against merely reading the tile files. The programs run as
// child processes; set TMPDIR to a roomy disk (the GeoTIFFs are a few hundred MB), and
// MAPCOMBINER_BASELINE to an earlier mapcombiner to compare with.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "demo/jpeg_codec.h"
#include "engine/tile_source.h"
#include "mosaic/mosaic_writer.h"
#include "platform/file_ops.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kZoom = 12, kMinX = 2000, kMinY = 1300, kSide = 100;

// A project of side x side tiles (hard links of one gradient JPEG), with world files beside the
// tiles for gdalbuildvrt.
std::string MakeProject(const TempDir& dir, const std::string& name, int side) {
  RgbImage image{256, 256, {}};
  for (int i = 0; i < 256 * 256; ++i) image.pixels.insert(image.pixels.end(), {uint8_t(i % 256), uint8_t(i / 256), 90});
  const std::string folder = dir.File(name + "/");
  qm::CreateDirectory(folder);
  const std::string first = folder + "first.jpg";
  qm::WriteFileAtomic(first, EncodeJpeg(image, 85));
  const double size = 2 * M_PI * 6378137.0 / (256.0 * (1 << kZoom));
  for (int x = kMinX; x < kMinX + side; ++x) {
    for (int y = kMinY; y < kMinY + side; ++y) {
      const std::string tile = folder + SatelliteTileFileName(kZoom, x, y);
      ::link(first.c_str(), tile.c_str());
      const double west = x * 256 * size - M_PI * 6378137.0, north = M_PI * 6378137.0 - y * 256 * size;
      char world[200];
      std::snprintf(world, sizeof world, "%.10f\n0\n0\n%.10f\n%.10f\n%.10f\n", size, -size, west + size / 2, north - size / 2);
      qm::WriteFileAtomic(tile.substr(0, tile.size() - 4) + ".jgw", world);
    }
  }
  ::unlink(first.c_str());
  const std::string project = dir.File(name + ".qmtp");
  qm::WriteFileAtomic(project, "[Zoom]\r\nZoom=" + std::to_string(kZoom) + "\r\n[XY]\r\nMinX=" + std::to_string(kMinX) +
                                   "\r\nMinY=" + std::to_string(kMinY) + "\r\nMaxX=" + std::to_string(kMinX + side - 1) +
                                   "\r\nMaxY=" + std::to_string(kMinY + side - 1) + "\r\n");
  return project;
}

// gdalbuildvrt over the tiles of MakeProject(dir, "area", kSide), writing tiles.vrt.
std::vector<std::string> BuildVrtCommand(const TempDir& dir) {
  std::vector<std::string> build = {"gdalbuildvrt", "-q", "-addalpha", "-a_srs", "EPSG:3857", dir.File("tiles.vrt")};
  for (int x = kMinX; x < kMinX + kSide; ++x) {
    for (int y = kMinY; y < kMinY + kSide; ++y) build.push_back(dir.File("area/" + SatelliteTileFileName(kZoom, x, y)));
  }
  return build;
}

// Runs a program (searched on PATH), its progress kept out of the results; its peak memory in
// MB, or -1 when it failed.
double Run(const std::vector<std::string>& args) {
  long peakKb = 0;
  return qmtest::WaitForExit(qmtest::SpawnProgram(args, -1, true), &peakKb) == 0 ? peakKb / 1024.0 : -1;
}

const char* const kCompressions[] = {"deflate", "jpeg"};

// Arguments: the side in tiles, and the compression (0 deflate, 1 jpeg).
void BM_MapCombinerGeoTiff(benchmark::State& state) {
  TempDir dir;
  const int side = static_cast<int>(state.range(0));
  const std::string project = MakeProject(dir, "area", side);
  double peak = 0;
  for (auto _ : state) {
    peak = Run({QUILLMERE_MAPCOMBINER_PATH, project, "--output", dir.File("ours.tif"), "--compress",
                kCompressions[state.range(1)]});
  }
  state.counters["tiles"] = side * side;
  state.counters["peak_MB"] = peak;
}

// The same GeoTIFF from an earlier build of mapcombiner named by MAPCOMBINER_BASELINE (skipped
// without it), to show what a change costs or gains.
void BM_BaselineMapCombinerGeoTiff(benchmark::State& state) {
  const char* baseline = std::getenv("MAPCOMBINER_BASELINE");
  if (baseline == nullptr) {
    state.SkipWithError("MAPCOMBINER_BASELINE names no earlier mapcombiner");
    for (auto _ : state) {
    }
    return;
  }
  TempDir dir;
  const std::string project = MakeProject(dir, "area", kSide);
  double peak = 0;
  for (auto _ : state) peak = Run({baseline, project, "--output", dir.File("baseline.tif")});
  state.counters["tiles"] = kSide * kSide;
  state.counters["peak_MB"] = peak;
}

// Only gdal_translate is timed; the argument is the compression as above.
void BM_GdalTranslateCog(benchmark::State& state) {
  TempDir dir;
  MakeProject(dir, "area", kSide);
  const std::vector<std::string> build = BuildVrtCommand(dir);
  const bool jpeg = state.range(0) == 1;
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (Run(build) < 0) state.SkipWithError("gdalbuildvrt failed (is gdal-bin installed?)");
    state.ResumeTiming();
    std::vector<std::string> translate = {"gdal_translate", "-q", "-of", "COG", "-co", "NUM_THREADS=ALL_CPUS", "-co",
                                          "BLOCKSIZE=256", "-co", jpeg ? "COMPRESS=JPEG" : "COMPRESS=DEFLATE"};
    // JPEG holds no alpha band: the same three bands as mapcombiner writes then.
    if (jpeg) translate.insert(translate.end(), {"-b", "1", "-b", "2", "-b", "3", "-co", "QUALITY=85"});
    translate.insert(translate.end(), {dir.File("tiles.vrt"), dir.File("gdal_cog.tif")});
    peak = Run(translate);
  }
  state.counters["tiles"] = kSide * kSide;
  state.counters["peak_MB"] = peak;
}

// A package of the downloaded level and the four below it, made from its tiles.
void BM_MapCombinerPackageWithLowerZooms(benchmark::State& state) {
  TempDir dir;
  const std::string project = MakeProject(dir, "area", kSide);
  const std::string format = state.range(0) == 0 ? "mbtiles" : "gpkg";
  double peak = 0;
  for (auto _ : state) {
    ::unlink(dir.File("ours." + format).c_str());
    peak = Run({QUILLMERE_MAPCOMBINER_PATH, project, "--output", dir.File("ours." + format), "--format", format,
                "--lower-zooms", std::to_string(kZoom - 4)});
    if (peak < 0) state.SkipWithError("mapcombiner failed");
  }
  state.SetLabel(format);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  state.counters["peak_MB"] = peak;
}

// Every tile is decoded (a damaged one stays out) but none stays open: the limit is far below the
// tile count.
void BM_MapCombinerVrtWith256OpenFiles(benchmark::State& state) {
  TempDir dir;
  const std::string project = MakeProject(dir, "area", kSide);
  double peak = 0;
  for (auto _ : state) {
    peak = Run({"prlimit", "--nofile=256", QUILLMERE_MAPCOMBINER_PATH, project, "--output", dir.File("ours.vrt"),
                "--format", "vrt"});
    if (peak < 0) state.SkipWithError("mapcombiner failed");
  }
  state.counters["tiles"] = kSide * kSide;
  state.counters["peak_MB"] = peak;
}

void BM_GdalToolsGeoTiff(benchmark::State& state) {
  TempDir dir;
  MakeProject(dir, "area", kSide);
  const std::vector<std::string> build = BuildVrtCommand(dir);
  double peak = 0;
  for (auto _ : state) {
    if (Run(build) < 0) state.SkipWithError("gdalbuildvrt failed (is gdal-bin installed?)");
    peak = Run({"gdal_translate", "-q", "-co", "TILED=YES", "-co", "BLOCKXSIZE=256", "-co", "BLOCKYSIZE=256", "-co",
                "COMPRESS=DEFLATE", "-co", "BIGTIFF=IF_SAFER", dir.File("tiles.vrt"), dir.File("gdal.tif")});
  }
  state.counters["tiles"] = kSide * kSide;
  state.counters["peak_MB"] = peak;
}

// In this process, like the reading it is compared with: the export itself, not a program start.
void BM_MBTilesExport(benchmark::State& state) {
  TempDir dir;
  const MosaicSource source = ReadMosaicSource(MakeProject(dir, "area", kSide));
  MosaicOptions options;
  options.format = MosaicFormat::kMBTiles;
  for (auto _ : state) {
    ::unlink(dir.File("ours.mbtiles").c_str());
    WriteMosaic(source, dir.File("ours.mbtiles"), options);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void BM_ReadingTheTiles(benchmark::State& state) {
  TempDir dir;
  MakeProject(dir, "area", kSide);
  for (auto _ : state) {
    for (int x = kMinX; x < kMinX + kSide; ++x) {
      for (int y = kMinY; y < kMinY + kSide; ++y) {
        benchmark::DoNotOptimize(qm::ReadWholeFile(dir.File("area/" + SatelliteTileFileName(kZoom, x, y))));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

BENCHMARK(BM_MapCombinerGeoTiff)
    ->Args({50, 0})
    ->Args({kSide, 0})
    ->Args({kSide, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_BaselineMapCombinerGeoTiff)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_GdalTranslateCog)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MapCombinerPackageWithLowerZooms)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MapCombinerVrtWith256OpenFiles)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_GdalToolsGeoTiff)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MBTilesExport)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadingTheTiles)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
