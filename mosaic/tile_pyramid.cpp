#include "mosaic/tile_pyramid.h"

#include <algorithm>

#include "mosaic/parallel_tiles.h"

namespace {

constexpr int kSide = kMosaicTilePixels;
constexpr int kHalf = kSide / 2;

// Halves the 256 x 256 tile into 128 x 128 pixels at out, whose rows lie outStride bytes apart.
void Halve(const uint8_t* tile, uint8_t* out, size_t outStride) {
  for (int row = 0; row < kHalf; ++row, out += outStride) {
    const uint8_t* top = tile + size_t(row * 2) * kSide * 4;
    const uint8_t* bottom = top + kSide * 4;
    uint8_t* pixel = out;
    for (int column = 0; column < kHalf; ++column, pixel += 4, top += 8, bottom += 8) {
      const unsigned a[4] = {top[3], top[7], bottom[3], bottom[7]};
      const unsigned opacity = a[0] + a[1] + a[2] + a[3];
      if (opacity == 4 * 255) {  // imagery nearly everywhere: a plain average
        for (int c = 0; c < 3; ++c) {
          pixel[c] = static_cast<uint8_t>((top[c] + top[4 + c] + bottom[c] + bottom[4 + c] + 2) / 4);
        }
        pixel[3] = 255;
        continue;
      }
      for (int c = 0; c < 3; ++c) {
        const unsigned sum = top[c] * a[0] + top[4 + c] * a[1] + bottom[c] * a[2] + bottom[4 + c] * a[3];
        pixel[c] = opacity == 0 ? 0 : static_cast<uint8_t>((sum + opacity / 2) / opacity);
      }
      pixel[3] = static_cast<uint8_t>((opacity + 2) / 4);
    }
  }
}

}  // namespace

TilePyramid::TilePyramid(PyramidRange base, int steps, RowSink sink) : base_(base), sink_(std::move(sink)) {
  PyramidRange range = base;
  for (int step = 0; step < steps; ++step) {
    range = range.Above();
    levels_.push_back({range, std::vector<TileRgba>(static_cast<size_t>(range.Columns()))});
  }
}

void TilePyramid::AddRun(int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles, bool halved) {
  if (!levels_.empty()) HalveRun(0, y, x0, tiles, halved);
}

void TilePyramid::EndRow(int32_t y) {
  if (!levels_.empty()) EndRowAt(0, y);
}

void TilePyramid::HalveRun(size_t level, int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles,
                           bool halved) {
  Level& above = levels_[level];
  const int32_t x1 = x0 + static_cast<int32_t>(tiles.size()) - 1;
  // One step per tile above, so no two threads fill the same tile.
  ParallelFor(static_cast<size_t>(x1 / 2 - x0 / 2 + 1), [&](size_t i) {
    const int32_t x = x0 / 2 + static_cast<int32_t>(i);
    for (int32_t childX = std::max(x * 2, x0); childX <= std::min(x * 2 + 1, x1); ++childX) {
      const TileRgba* child = tiles[static_cast<size_t>(childX - x0)];
      if (child != nullptr && !child->empty()) {
        HalveInto(*child, childX % 2 == 1, y % 2 == 1, above.row[static_cast<size_t>(x - above.range.minX)], halved);
      }
    }
  });
}

void TilePyramid::EndRowAt(size_t level, int32_t y) {
  Level& above = levels_[level];
  const PyramidRange& below = level == 0 ? base_ : levels_[level - 1].range;
  if (y % 2 == 0 && y != below.maxY) return;
  const int32_t aboveY = y / 2;
  if (level + 1 < levels_.size()) {
    std::vector<const TileRgba*> row;
    for (const TileRgba& tile : above.row) row.push_back(&tile);
    HalveRun(level + 1, aboveY, above.range.minX, row, false);
    EndRowAt(level + 1, aboveY);
  }
  // Last, as the sink may take the tiles.
  sink_(static_cast<int>(level) + 1, aboveY, above.range.minX, above.row);
  for (TileRgba& tile : above.row) tile.clear();
}

void HalveInto(const TileRgba& tile, bool right, bool lower, TileRgba& above, bool halved) {
  if (above.empty()) above.assign(size_t{kSide} * kSide * 4, 0);
  uint8_t* quarter = &above[(size_t(lower ? kHalf : 0) * kSide + (right ? kHalf : 0)) * 4];
  if (!halved) return Halve(tile.data(), quarter, kSide * 4);
  for (int row = 0; row < kHalf; ++row) {
    std::copy_n(&tile[size_t(row) * kHalf * 4], kHalf * 4, quarter + size_t(row) * kSide * 4);
  }
}

TileRgba HalvedTile(const TileRgba& tile) {
  TileRgba half(size_t{kHalf} * kHalf * 4);
  Halve(tile.data(), half.data(), kHalf * 4);
  return half;
}

std::vector<PyramidRange> BandsOf(const PyramidRange& range) {
  std::vector<PyramidRange> bands;
  for (int32_t x0 = range.minX; x0 <= range.maxX; x0 = (x0 / kBandColumns + 1) * kBandColumns) {
    bands.push_back({x0, range.minY, std::min(range.maxX, (x0 / kBandColumns + 1) * kBandColumns - 1), range.maxY});
  }
  return bands;
}

void MakeUpperLevels(PyramidRange base, int steps, const ReadLevel& read, const TilePyramid::RowSink& sink) {
  PyramidRange range = base;
  for (int made = 0; made < steps; ++made) {
    if (made % kBandSteps == 0 && made > 0) {
      const int count = std::min(kBandSteps, steps - made);
      for (const PyramidRange& band : BandsOf(range)) {
        TilePyramid pyramid(band, count, [&](int step, int32_t y, int32_t x0, std::vector<TileRgba>& tiles) {
          sink(made + step, y, x0, tiles);
        });
        for (int32_t y = band.minY; y <= band.maxY; ++y) {
          const std::vector<TileRgba> tiles = read(made, y, band.minX, band.maxX);
          std::vector<const TileRgba*> row;
          for (const TileRgba& tile : tiles) row.push_back(&tile);
          pyramid.AddRun(y, band.minX, row);
          pyramid.EndRow(y);
        }
      }
    }
    range = range.Above();
  }
}
