#include "mosaic/package_tiles.h"

#include <algorithm>

#include "mosaic/parallel_tiles.h"
#include "mosaic/tile_encoder.h"
#include "mosaic/tile_pyramid.h"

namespace {

int StepsBelow(const MosaicSource& coarsest, const MosaicOptions& options) {
  return options.lowerZoom >= 0 && options.lowerZoom < coarsest.zoom ? coarsest.zoom - options.lowerZoom : 0;
}

PyramidRange RangeOf(const MosaicSource& level) { return {level.minX, level.minY, level.maxX, level.maxY}; }

// The levels made from the coarsest downloaded one: each finished row encoded on every core and
// put in the package, and read back from it for the levels made from it in turn.
class MadeLevels {
 public:
  MadeLevels(int zoom, const MosaicOptions& options, const PutTile& put, const GetTile& get)
      : zoom_(zoom), fill_(options.fillColor), put_(put), get_(get) {}
  // The image kind of the downloaded tiles, known from the first one.
  void SetKind(TileImageKind kind) { kind_ = kind; }

  TilePyramid::RowSink Sink() {
    return [this](int step, int32_t y, int32_t x0, std::vector<TileRgba>& tiles) {
      std::vector<std::string> encoded(tiles.size());
      ParallelFor(tiles.size(), [&](size_t i) {
        if (!tiles[i].empty()) encoded[i] = EncodeTile(tiles[i], kind_, fill_);
      });
      for (size_t i = 0; i < encoded.size(); ++i) {
        if (!encoded[i].empty()) put_(zoom_ - step, x0 + static_cast<int32_t>(i), y, encoded[i]);
      }
    };
  }

  ReadLevel Reader() const {
    return [this](int step, int32_t y, int32_t x0, int32_t x1) {
      std::vector<std::string> bytes;
      for (int32_t x = x0; x <= x1; ++x) bytes.push_back(get_(zoom_ - step, x, y));
      std::vector<TileRgba> tiles(bytes.size());
      ParallelFor(tiles.size(), [&](size_t i) {
        if (!bytes[i].empty() && !DecodeTile(bytes[i], tiles[i])) tiles[i].clear();
      });
      return tiles;
    };
  }

 private:
  int zoom_;
  std::array<uint8_t, 3> fill_;
  const PutTile& put_;
  const GetTile& get_;
  TileImageKind kind_ = TileImageKind::kJpeg;
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

namespace {

// Counts the downloaded tiles x0.. of row y and puts those that are images; their pixels, if any,
// for the levels made from them.
std::vector<const TileRgba*> PutDownloaded(const MosaicSource& level, int32_t y, int32_t x0,
                                           std::vector<MosaicTile>& tiles, TileTally& tally, const PutTile& put,
                                           PackageExtent& extent, MadeLevels& made) {
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
  return pixels;
}

}  // namespace

PackageExtent WritePackageTiles(const MosaicLevels& levels, const MosaicOptions& options, const std::string& blankBytes,
                                TileTally& tally, const PutTile& put, const GetTile& get) {
  PackageExtent extent = PackageExtentOf(levels, options);
  const int steps = StepsBelow(levels.front(), options);
  MadeLevels made(levels.front().zoom, options, put, get);
  for (const MosaicSource& level : levels) {
    const bool feedsPyramid = &level == &levels.front() && steps > 0;
    // Only the tiles the levels below are made of are decoded, and at the size they are used.
    const TileLoader loader(level, blankBytes, feedsPyramid ? TileDecoding::kHalved : TileDecoding::kChecked);
    for (const PyramidRange& band : BandsOf(RangeOf(level))) {
      TilePyramid pyramid(band, feedsPyramid ? std::min(steps, kBandSteps) : 0, made.Sink());
      for (int32_t y = band.minY; y <= band.maxY; ++y) {
        std::vector<MosaicTile> tiles = LoadTiles(loader, y, band.minX, band.maxX);
        pyramid.AddRun(y, band.minX, PutDownloaded(level, y, band.minX, tiles, tally, put, extent, made), true);
        pyramid.EndRow(y);
      }
    }
  }
  MakeUpperLevels(RangeOf(levels.front()), steps, made.Reader(), made.Sink());
  return extent;
}
