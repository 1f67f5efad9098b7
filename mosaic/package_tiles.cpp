#include "mosaic/package_tiles.h"

#include <algorithm>

#include "mosaic/parallel_tiles.h"
#include "mosaic/tile_encoder.h"
#include "mosaic/tile_pyramid.h"

namespace {

int StepsBelow(const MosaicSource& coarsest, const MosaicOptions& options) {
  return options.lowerZoom >= 0 && options.lowerZoom < coarsest.zoom ? coarsest.zoom - options.lowerZoom : 0;
}

TileRange RangeOf(const MosaicSource& level) { return {level.minX, level.minY, level.maxX, level.maxY}; }

// Writes the levels made from the coarsest downloaded one, encoding each row on every core.
class MadeLevels {
 public:
  MadeLevels(const MosaicSource& coarsest, const MosaicOptions& options, const PutTile& put)
      : zoom_(coarsest.zoom),
        fill_(options.fillColor),
        put_(put),
        pyramid_(RangeOf(coarsest), StepsBelow(coarsest, options),
                 [this](int step, int32_t y, std::vector<TileRgba>& tiles) { PutRow(step, y, tiles); }) {
    TileRange range = RangeOf(coarsest);
    for (int step = 0; step < StepsBelow(coarsest, options); ++step) ranges_.push_back(range = range.Above());
  }
  // The image kind of the downloaded tiles, known from the first one.
  void SetKind(TileImageKind kind) { kind_ = kind; }
  TilePyramid& Pyramid() { return pyramid_; }

 private:
  void PutRow(int step, int32_t y, std::vector<TileRgba>& tiles) {
    std::vector<std::string> encoded(tiles.size());
    ParallelFor(tiles.size(), [&](size_t i) {
      if (!tiles[i].empty()) encoded[i] = EncodeTile(tiles[i], kind_, fill_);
    });
    const int32_t minX = ranges_[static_cast<size_t>(step - 1)].minX;
    for (size_t i = 0; i < encoded.size(); ++i) {
      if (!encoded[i].empty()) put_(zoom_ - step, minX + static_cast<int32_t>(i), y, encoded[i]);
    }
  }

  int zoom_;
  std::array<uint8_t, 3> fill_;
  const PutTile& put_;
  TileImageKind kind_ = TileImageKind::kJpeg;
  std::vector<TileRange> ranges_;
  TilePyramid pyramid_;
};

std::string FormatName(TileImageKind kind) { return kind == TileImageKind::kPng ? "png" : "jpg"; }

}  // namespace

PackageExtent PackageExtentOf(const MosaicLevels& levels, const MosaicOptions& options) {
  PackageExtent extent;
  extent.minZoom = levels.front().zoom - StepsBelow(levels.front(), options);
  extent.maxZoom = levels.back().zoom;
  extent.bounds = BoundsOf(levels.front());
  for (const MosaicSource& level : levels) {
    const DegreeBounds b = BoundsOf(level);
    extent.bounds = {std::min(extent.bounds.west, b.west), std::min(extent.bounds.south, b.south),
                     std::max(extent.bounds.east, b.east), std::max(extent.bounds.north, b.north)};
  }
  return extent;
}

PackageExtent WritePackageTiles(const MosaicLevels& levels, const MosaicOptions& options, const std::string& blankBytes,
                                TileTally& tally, const PutTile& put) {
  PackageExtent extent = PackageExtentOf(levels, options);
  MadeLevels made(levels.front(), options, put);
  for (const MosaicSource& level : levels) {
    const TileLoader loader(level, blankBytes);
    const bool feedsPyramid = &level == &levels.front();
    for (int32_t y = level.minY; y <= level.maxY; ++y) {
      for (int32_t x0 = level.minX; x0 <= level.maxX; x0 += kTilesPerRun) {
        std::vector<MosaicTile> tiles = LoadTiles(loader, y, x0, std::min(level.maxX, x0 + kTilesPerRun - 1));
        std::vector<const TileRgba*> pixels;
        for (size_t i = 0; i < tiles.size(); ++i) {
          MosaicTile& tile = tiles[i];
          TileImageKind kind{};
          if (tile.state == TileState::kPresent && !TileImageKindOf(tile.bytes, kind)) tile.state = TileState::kUndecodable;
          const int32_t x = x0 + static_cast<int32_t>(i);
          tally.Count(level.zoom, x, y, tile.state);
          pixels.push_back(tile.state == TileState::kPresent ? &tile.rgba : nullptr);
          if (tile.state != TileState::kPresent) continue;
          if (extent.format.empty()) {
            extent.format = FormatName(kind);
            made.SetKind(kind);
          }
          put(level.zoom, x, y, tile.bytes);
        }
        if (feedsPyramid) made.Pyramid().AddRun(y, x0, pixels);
      }
      if (feedsPyramid) made.Pyramid().EndRow(y);
    }
  }
  return extent;
}
