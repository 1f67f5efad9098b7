// Reprojection: one longitude per pixel column and one latitude per pixel row, then bilinear
// samples of the world image.
#include "demo/tile_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/Commonfunc.h"

namespace {

// Where a pixel centre falls in the world image, as the two neighbours and the weight of the
// second.
struct Sample {
  int first = 0;
  int second = 0;
  float weight = 0;
};

Sample SampleAt(double position, int size, bool wraps) {
  const double floor = std::floor(position);
  Sample s{static_cast<int>(floor), static_cast<int>(floor) + 1, static_cast<float>(position - floor)};
  if (wraps) {
    s.first = (s.first % size + size) % size;
    s.second = (s.second % size + size) % size;
  } else {
    s.first = std::clamp(s.first, 0, size - 1);
    s.second = std::clamp(s.second, 0, size - 1);
  }
  return s;
}

std::array<Sample, kTileSize> ColumnSamples(const RgbImage& world, const TileKey& tile) {
  std::array<Sample, kTileSize> samples;
  for (int px = 0; px < kTileSize; ++px) {
    const double lon = TileXToLon(tile.x + (px + 0.5) / kTileSize, static_cast<uint8_t>(tile.zoom));
    samples[px] = SampleAt((lon + 180.0) / 360.0 * world.width - 0.5, world.width, true);
  }
  return samples;
}

std::array<Sample, kTileSize> RowSamples(const RgbImage& world, const TileKey& tile) {
  std::array<Sample, kTileSize> samples;
  for (int py = 0; py < kTileSize; ++py) {
    const double lat = TileYToLat(tile.y + (py + 0.5) / kTileSize, static_cast<uint8_t>(tile.zoom));
    samples[py] = SampleAt((90.0 - lat) / 180.0 * world.height - 0.5, world.height, false);
  }
  return samples;
}

}  // namespace

RgbImage RenderTile(const RgbImage& world, const TileKey& tile) {
  const auto columns = ColumnSamples(world, tile);
  const auto rows = RowSamples(world, tile);
  RgbImage out{kTileSize, kTileSize, std::vector<uint8_t>(kTileSize * kTileSize * 3)};
  const auto pixel = [&](int x, int y) { return &world.pixels[(static_cast<size_t>(y) * world.width + x) * 3]; };
  uint8_t* target = out.pixels.data();
  for (const Sample& row : rows) {
    for (const Sample& column : columns) {
      const uint8_t* a = pixel(column.first, row.first);
      const uint8_t* b = pixel(column.second, row.first);
      const uint8_t* c = pixel(column.first, row.second);
      const uint8_t* d = pixel(column.second, row.second);
      for (int channel = 0; channel < 3; ++channel) {
        const float top = a[channel] + (b[channel] - a[channel]) * column.weight;
        const float bottom = c[channel] + (d[channel] - c[channel]) * column.weight;
        *target++ = static_cast<uint8_t>(std::lround(top + (bottom - top) * row.weight));
      }
    }
  }
  return out;
}
