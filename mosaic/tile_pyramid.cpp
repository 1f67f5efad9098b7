#include "mosaic/tile_pyramid.h"

#include <algorithm>

#include "mosaic/parallel_tiles.h"

namespace {

constexpr int kSide = kMosaicTilePixels;

}  // namespace

TilePyramid::TilePyramid(TileRange base, int steps, RowSink sink) : base_(base), sink_(std::move(sink)) {
  TileRange range = base;
  for (int step = 0; step < steps; ++step) {
    range = range.Above();
    levels_.push_back({range, std::vector<TileRgba>(static_cast<size_t>(range.Columns()))});
  }
}

void TilePyramid::AddRun(int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles) {
  if (!levels_.empty()) HalveRun(0, y, x0, tiles);
}

void TilePyramid::EndRow(int32_t y) {
  if (!levels_.empty()) EndRowAt(0, y);
}

void TilePyramid::HalveRun(size_t level, int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles) {
  Level& above = levels_[level];
  const int32_t x1 = x0 + static_cast<int32_t>(tiles.size()) - 1;
  // One step per tile above, so no two threads fill the same tile.
  ParallelFor(static_cast<size_t>(x1 / 2 - x0 / 2 + 1), [&](size_t i) {
    const int32_t x = x0 / 2 + static_cast<int32_t>(i);
    for (int32_t childX = std::max(x * 2, x0); childX <= std::min(x * 2 + 1, x1); ++childX) {
      const TileRgba* child = tiles[static_cast<size_t>(childX - x0)];
      if (child != nullptr && !child->empty()) {
        HalveInto(*child, childX % 2 == 1, y % 2 == 1, above.row[static_cast<size_t>(x - above.range.minX)]);
      }
    }
  });
}

void TilePyramid::EndRowAt(size_t level, int32_t y) {
  Level& above = levels_[level];
  const TileRange& below = level == 0 ? base_ : levels_[level - 1].range;
  if (y % 2 == 0 && y != below.maxY) return;
  const int32_t aboveY = y / 2;
  if (level + 1 < levels_.size()) {
    std::vector<const TileRgba*> row;
    for (const TileRgba& tile : above.row) row.push_back(&tile);
    HalveRun(level + 1, aboveY, above.range.minX, row);
    EndRowAt(level + 1, aboveY);
  }
  // Last, as the sink may take the tiles.
  sink_(static_cast<int>(level) + 1, aboveY, above.row);
  for (TileRgba& tile : above.row) tile.clear();
}

void HalveInto(const TileRgba& tile, bool right, bool lower, TileRgba& above) {
  if (above.empty()) above.assign(size_t{kSide} * kSide * 4, 0);
  const int half = kSide / 2;
  for (int row = 0; row < half; ++row) {
    uint8_t* out = &above[(size_t(row + (lower ? half : 0)) * kSide + (right ? half : 0)) * 4];
    const uint8_t* top = &tile[size_t(row * 2) * kSide * 4];
    const uint8_t* bottom = top + kSide * 4;
    for (int column = 0; column < half; ++column, out += 4, top += 8, bottom += 8) {
      const unsigned a[4] = {top[3], top[7], bottom[3], bottom[7]};
      const unsigned opacity = a[0] + a[1] + a[2] + a[3];
      for (int c = 0; c < 3; ++c) {
        const unsigned sum = top[c] * a[0] + top[4 + c] * a[1] + bottom[c] * a[2] + bottom[4 + c] * a[3];
        out[c] = opacity == 0 ? 0 : static_cast<uint8_t>((sum + opacity / 2) / opacity);
      }
      out[3] = static_cast<uint8_t>((opacity + 2) / 4);
    }
  }
}
