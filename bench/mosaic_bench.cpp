// mapcombiner against GDAL's own tools on the same 10,000 tiles: a GeoTIFF with overviews from
// mapcombiner (at 2,500 and 10,000 tiles, with the child's peak memory, deflate and JPEG) and from
// gdalbuildvrt + gdal_translate (a plain GeoTIFF, and a COG on every core with GDAL's default
// deflate and with mapcombiner's own deflate settings); a VRT of 10,000 tiles under a limit of 256
// open files; MBTiles export; MBTiles and GeoPackage with four lower levels, timed in this process
// against merely reading the same tile files in the same run; the peak memory of an area 4,000
// tiles wide. The tiles are either one gradient JPEG or imagery: 32 tiles cut from the Blue Marble
// world image at its own resolution (Debian's xplanet-images), each linked over and over. The
// programs run as child processes; set TMPDIR to a roomy disk (the GeoTIFFs are about a GB), and
// MAPCOMBINER_BASELINE to an earlier mapcombiner to compare with.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <functional>
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
constexpr const char* kWorldImage = "/usr/share/xplanet/images/earth.jpg";

enum Content { kGradient, kImagery };

// The tile images the project links to: one gradient, or 32 cuts of the world image (land, sea
// and ice, as imagery has them); empty when the world image is not there.
std::vector<std::string> TileImages(Content content) {
  if (content == kGradient) {
    RgbImage image{256, 256, {}};
    for (int i = 0; i < 256 * 256; ++i) image.pixels.insert(image.pixels.end(), {uint8_t(i % 256), uint8_t(i / 256), 90});
    return {EncodeJpeg(image, 85)};
  }
  if (!qm::FileExists(kWorldImage)) return {};
  const RgbImage world = DecodeJpeg(qm::ReadWholeFile(kWorldImage));
  std::vector<std::string> tiles;
  for (int top = 0; top + 256 <= world.height; top += 256) {
    for (int left = 0; left + 256 <= world.width; left += 256) {
      RgbImage tile{256, 256, {}};
      for (int row = 0; row < 256; ++row) {
        const auto start = world.pixels.begin() + ((top + row) * world.width + left) * 3;
        tile.pixels.insert(tile.pixels.end(), start, start + 256 * 3);
      }
      tiles.push_back(EncodeJpeg(tile, 85));
    }
  }
  return tiles;
}

// A project of columns x rows tiles (hard links of the tile images), with world files beside the
// tiles for gdalbuildvrt; "" when its images are not there.
std::string MakeProject(const TempDir& dir, const std::string& name, int columns, int rows = -1,
                        Content content = kGradient) {
  if (rows < 0) rows = columns;
  const std::vector<std::string> images = TileImages(content);
  if (images.empty()) return "";
  const std::string folder = dir.File(name + "/");
  qm::CreateDirectory(folder);
  for (size_t i = 0; i < images.size(); ++i) qm::WriteFileAtomic(folder + "image" + std::to_string(i), images[i]);
  const int minX = columns > kSide ? 0 : kMinX;
  const double size = 2 * M_PI * 6378137.0 / (256.0 * (1 << kZoom));
  for (int x = minX; x < minX + columns; ++x) {
    for (int y = kMinY; y < kMinY + rows; ++y) {
      const std::string tile = folder + SatelliteTileFileName(kZoom, x, y);
      const std::string image = folder + "image" + std::to_string((x * 7 + y * 3) % images.size());
      ::link(image.c_str(), tile.c_str());
      const double west = x * 256 * size - M_PI * 6378137.0, north = M_PI * 6378137.0 - y * 256 * size;
      char world[200];
      std::snprintf(world, sizeof world, "%.10f\n0\n0\n%.10f\n%.10f\n%.10f\n", size, -size, west + size / 2, north - size / 2);
      if (columns <= kSide) qm::WriteFileAtomic(tile.substr(0, tile.size() - 4) + ".jgw", world);
    }
  }
  for (size_t i = 0; i < images.size(); ++i) ::unlink((folder + "image" + std::to_string(i)).c_str());
  const std::string project = dir.File(name + ".qmtp");
  qm::WriteFileAtomic(project, "[Zoom]\r\nZoom=" + std::to_string(kZoom) + "\r\n[XY]\r\nMinX=" + std::to_string(minX) +
                                   "\r\nMinY=" + std::to_string(kMinY) + "\r\nMaxX=" + std::to_string(minX + columns - 1) +
                                   "\r\nMaxY=" + std::to_string(kMinY + rows - 1) + "\r\n");
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

double MegabytesOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) / 1e6 : 0;
}

// The project, or a skipped benchmark when its images are missing.
std::string ProjectFor(benchmark::State& state, const TempDir& dir, int side, Content content) {
  std::string project = MakeProject(dir, "area", side, side, content);
  if (project.empty()) state.SkipWithError("no world image: install xplanet-images");
  return project;
}

// Arguments: the side in tiles, the compression (0 deflate, 1 jpeg) and the tiles' Content.
void BM_MapCombinerGeoTiff(benchmark::State& state) {
  TempDir dir;
  const int side = static_cast<int>(state.range(0));
  const std::string project = ProjectFor(state, dir, side, static_cast<Content>(state.range(2)));
  double peak = 0;
  for (auto _ : state) {
    if (project.empty()) continue;
    peak = Run({QUILLMERE_MAPCOMBINER_PATH, project, "--output", dir.File("ours.tif"), "--compress",
                kCompressions[state.range(1)]});
  }
  state.counters["tiles"] = side * side;
  state.counters["peak_MB"] = peak;
  state.counters["file_MB"] = MegabytesOf(dir.File("ours.tif"));
}

// The same GeoTIFF from an earlier build of mapcombiner named by MAPCOMBINER_BASELINE (skipped
// without it), to show what a change costs or gains; the argument is the tiles' Content.
void BM_BaselineMapCombinerGeoTiff(benchmark::State& state) {
  const char* baseline = std::getenv("MAPCOMBINER_BASELINE");
  if (baseline == nullptr) {
    state.SkipWithError("MAPCOMBINER_BASELINE names no earlier mapcombiner");
    for (auto _ : state) {
    }
    return;
  }
  TempDir dir;
  const std::string project = ProjectFor(state, dir, kSide, static_cast<Content>(state.range(0)));
  double peak = 0;
  for (auto _ : state) {
    if (!project.empty()) peak = Run({baseline, project, "--output", dir.File("baseline.tif")});
  }
  state.counters["tiles"] = kSide * kSide;
  state.counters["peak_MB"] = peak;
}

// Only gdal_translate is timed. Arguments: the compression as above; for deflate, GDAL's default
// level (0) or mapcombiner's own settings, level 1 after horizontal differencing (1); the
// tiles' Content.
void BM_GdalTranslateCog(benchmark::State& state) {
  TempDir dir;
  const bool made = !ProjectFor(state, dir, kSide, static_cast<Content>(state.range(2))).empty();
  const std::vector<std::string> build = BuildVrtCommand(dir);
  const bool jpeg = state.range(0) == 1;
  double peak = 0;
  for (auto _ : state) {
    if (!made) continue;
    state.PauseTiming();
    if (Run(build) < 0) state.SkipWithError("gdalbuildvrt failed (is gdal-bin installed?)");
    state.ResumeTiming();
    std::vector<std::string> translate = {"gdal_translate", "-q", "-of", "COG", "-co", "NUM_THREADS=ALL_CPUS", "-co",
                                          "BLOCKSIZE=256", "-co", jpeg ? "COMPRESS=JPEG" : "COMPRESS=DEFLATE"};
    // JPEG holds no alpha band: the same three bands as mapcombiner writes then.
    if (jpeg) translate.insert(translate.end(), {"-b", "1", "-b", "2", "-b", "3", "-co", "QUALITY=85"});
    if (state.range(1) == 1) translate.insert(translate.end(), {"-co", "LEVEL=1", "-co", "PREDICTOR=YES"});
    translate.insert(translate.end(), {dir.File("tiles.vrt"), dir.File("gdal_cog.tif")});
    peak = Run(translate);
  }
  state.counters["tiles"] = kSide * kSide;
  state.counters["peak_MB"] = peak;
  state.counters["file_MB"] = MegabytesOf(dir.File("gdal_cog.tif"));
}

// Opens, reads and closes every tile file of the level, as the package does.
void ReadEveryTile(const TempDir& dir) {
  for (int x = kMinX; x < kMinX + kSide; ++x) {
    for (int y = kMinY; y < kMinY + kSide; ++y) {
      benchmark::DoNotOptimize(qm::ReadWholeFile(dir.File("area/" + SatelliteTileFileName(kZoom, x, y))));
    }
  }
}

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A package of the downloaded level and the four below it, made from its tiles, in this process,
// and in the same run merely reading the same tile files (from the page cache: the files were
// just written). Rates are tiles of the downloaded level per second. Arguments: mbtiles (0) or
// gpkg (1), and the tiles' Content.
void BM_PackageWithLowerZoomsAgainstReading(benchmark::State& state) {
  TempDir dir;
  const std::string project = ProjectFor(state, dir, kSide, static_cast<Content>(state.range(1)));
  MosaicOptions options;
  options.format = state.range(0) == 0 ? MosaicFormat::kMBTiles : MosaicFormat::kGpkg;
  options.lowerZoom = kZoom - 4;
  const std::string output = dir.File(state.range(0) == 0 ? "ours.mbtiles" : "ours.gpkg");
  double reading = 0, packing = 0;
  for (auto _ : state) {
    if (project.empty()) continue;
    const MosaicSource source = ReadMosaicSource(project);
    reading += SecondsOf([&] { ReadEveryTile(dir); });
    ::unlink(output.c_str());
    packing += SecondsOf([&] { WriteMosaic(source, output, options); });
  }
  const double tiles = static_cast<double>(state.iterations()) * kSide * kSide;
  state.counters["read_per_s"] = reading > 0 ? tiles / reading : 0;
  state.counters["package_per_s"] = packing > 0 ? tiles / packing : 0;
  state.counters["ratio"] = packing > 0 ? reading / packing : 0;
}

// The same package from the program, with its peak memory; the argument as above.
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

// An area 4,000 tiles wide and 3 high, with every level down to one tile: the peak memory of the
// program. Argument: gtiff (0), or mbtiles with every lower zoom (1).
void BM_MapCombinerWideArea(benchmark::State& state) {
  TempDir dir;
  const std::string project = MakeProject(dir, "wide", 4000, 3);
  const bool package = state.range(0) == 1;
  double peak = 0;
  for (auto _ : state) {
    const std::string output = dir.File(package ? "wide.mbtiles" : "wide.tif");
    ::unlink(output.c_str());
    std::vector<std::string> args = {QUILLMERE_MAPCOMBINER_PATH, project, "--output", output};
    if (package) args.insert(args.end(), {"--format", "mbtiles", "--lower-zooms", "0"});
    peak = Run(args);
    if (peak < 0) state.SkipWithError("mapcombiner failed");
  }
  state.SetLabel(package ? "mbtiles" : "gtiff");
  state.counters["tiles"] = 4000 * 3;
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
  for (auto _ : state) ReadEveryTile(dir);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

// Content: 0 gradient, 1 imagery.
BENCHMARK(BM_MapCombinerGeoTiff)
    ->Args({50, 0, 0})
    ->Args({kSide, 0, 0})
    ->Args({kSide, 1, 0})
    ->Args({kSide, 0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_BaselineMapCombinerGeoTiff)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_GdalTranslateCog)
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 0, 1})
    ->Args({0, 1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_PackageWithLowerZoomsAgainstReading)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MapCombinerPackageWithLowerZooms)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MapCombinerWideArea)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MapCombinerVrtWith256OpenFiles)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_GdalToolsGeoTiff)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MBTilesExport)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadingTheTiles)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
