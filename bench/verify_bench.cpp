// Verifying a project of 4,096 typical 256-pixel JPEG tiles on one core: the goal is at least 500
// tiles a second. The tiles carry detail (a gradient with noise), so they decode like imagery.
#include <benchmark/benchmark.h>
#include <gdal.h>

#include <random>

#include "demo/jpeg_codec.h"
#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"
#include "verify/project_verify.h"

namespace {

constexpr int kSide = 64;  // 64 x 64 tiles
constexpr int kMinX = 1000, kMinY = 2000, kZoom = 13;

std::string ImageryLikeJpeg(std::mt19937& random) {
  RgbImage image{256, 256, {}};
  image.pixels.reserve(256 * 256 * 3);
  std::uniform_int_distribution<int> noise(0, 40);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      image.pixels.push_back(static_cast<uint8_t>(x / 2 + noise(random)));
      image.pixels.push_back(static_cast<uint8_t>(y / 2 + noise(random)));
      image.pixels.push_back(static_cast<uint8_t>(90 + noise(random)));
    }
  }
  return EncodeJpeg(image, 85);
}

// The project file and its tile folder, every tile stored, every worker past its last tile.
std::string MakeProject(const TempDir& dir) {
  std::mt19937 random(7);
  std::vector<std::string> variants;
  for (int i = 0; i < 16; ++i) variants.push_back(ImageryLikeJpeg(random));
  qm::CreateDirectory(dir.Path() + "big");
  for (int x = kMinX; x < kMinX + kSide; ++x) {
    for (int y = kMinY; y < kMinY + kSide; ++y) {
      qm::WriteFileAtomicUnflushed(dir.Path() + "big/kv_" + std::to_string(x) + "_" + std::to_string(y) + "_13.jpg",
                                   variants[static_cast<size_t>((x * 7 + y) % 16)]);
    }
  }
  std::string project = "[Zoom]\r\nZoom=" + std::to_string(kZoom) + "\r\n[XY]\r\nMinX=" + std::to_string(kMinX) +
                        "\r\nMinY=" + std::to_string(kMinY) + "\r\nMaxX=" + std::to_string(kMinX + kSide - 1) +
                        "\r\nMaxY=" + std::to_string(kMinY + kSide - 1) + "\r\n[THREADS]\r\n";
  for (int i = 1; i <= 8; ++i) {
    project += "T" + std::to_string(i) + "X=" + std::to_string(kMinX + kSide - 1) + "\r\nT" + std::to_string(i) +
               "Y=" + std::to_string(kMinY + kSide - 1) + "\r\n";
  }
  qm::WriteFileAtomic(dir.Path() + "big.qmtp", project);
  return dir.Path() + "big.qmtp";
}

void BM_VerifyProjectOnOneCore(benchmark::State& state) {
  GDALAllRegister();
  TempDir dir;
  const std::string project = MakeProject(dir);
  for (auto _ : state) {
    const VerifyReport report = VerifyProject(project, "localhost:8080");
    if (report.counts.sound != kSide * kSide) state.SkipWithError("a tile did not verify as sound");
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  state.counters["tiles/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kSide * kSide),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VerifyProjectOnOneCore)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
