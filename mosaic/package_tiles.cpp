#include "mosaic/package_tiles.h"

#include <algorithm>

#include "mosaic/package_kind.h"
#include "mosaic/parallel_tiles.h"
#include "mosaic/tile_encoder.h"
#include "mosaic/tile_pyramid.h"

namespace {

PyramidRange RangeOf(const MosaicSource& level) { return {level.minX, level.minY, level.maxX, level.maxY}; }

bool PartlyEmpty(const TileRgba& rgba) {
  for (size_t i = 3; i < rgba.size(); i += 4) {
    if (rgba[i] != 255) return true;
  }
  return false;
}

std::string FormatName(TileImageKind kind) { return kind == TileImageKind::kPng ? "png" : "jpg"; }

// The tiles as they go into the package: counted, the made levels encoded, and the downloaded
// tiles of another kind than the package's one encoded anew.
class PackedTiles {
 public:
  PackedTiles(int coarsestZoom, const MosaicOptions& options, PackageKinds kinds, PackageExtent& extent,
              const PutTile& put, const GetTile& get)
      : zoom_(coarsestZoom), fill_(options.fillColor), kinds_(kinds), extent_(extent), put_(put), get_(get) {}

  // The kind of the made tiles, and for a package of one kind that of every tile.
  void SetKind(TileImageKind kind) {
    kind_ = kind;
    extent_.format = FormatName(kind);
  }
  bool KindKnown() const { return !extent_.format.empty(); }

  void PutDownloaded(int zoom, int32_t x, int32_t y, const std::string& bytes, TileImageKind kind) {
    if (kinds_ != PackageKinds::kOne || kind == kind_) return Put(zoom, x, y, bytes);
    TileRgba rgba;
    if (!DecodeTile(bytes, rgba)) return;
    ++extent_.reencoded;
    Put(zoom, x, y, EncodeTile(rgba, kind_, fill_));
  }

  TilePyramid::RowSink Sink() {
    return [this](int step, int32_t y, int32_t x0, std::vector<TileRgba>& tiles) {
      std::vector<std::string> encoded(tiles.size());
      ParallelFor(tiles.size(), [&](size_t i) {
        if (tiles[i].empty()) return;
        const bool keepClear = kinds_ == PackageKinds::kMixed && PartlyEmpty(tiles[i]);
        encoded[i] = EncodeTile(tiles[i], keepClear ? TileImageKind::kPng : kind_, fill_);
      });
      for (size_t i = 0; i < encoded.size(); ++i) {
        if (!encoded[i].empty()) Put(zoom_ - step, x0 + static_cast<int32_t>(i), y, encoded[i]);
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
  void Put(int zoom, int32_t x, int32_t y, const std::string& bytes) {
    if (bytes.empty()) return;
    put_(zoom, x, y, bytes);
    ++extent_.packed;
  }

  int zoom_;
  std::array<uint8_t, 3> fill_;
  PackageKinds kinds_;
  PackageExtent& extent_;
  const PutTile& put_;
  const GetTile& get_;
  TileImageKind kind_ = TileImageKind::kJpeg;
};

// Counts the downloaded tiles x0.. of row y and puts those that are images; their pixels, if any,
// for the levels made from them.
std::vector<const TileRgba*> PutRow(const MosaicSource& level, int32_t y, int32_t x0, std::vector<MosaicTile>& tiles,
                                    TileTally& tally, PackedTiles& packed) {
  std::vector<const TileRgba*> pixels;
  for (size_t i = 0; i < tiles.size(); ++i) {
    MosaicTile& tile = tiles[i];
    TileImageKind kind{};
    if (tile.state == TileState::kPresent && !TileImageKindOf(tile.bytes, kind)) tile.state = TileState::kUndecodable;
    const int32_t x = x0 + static_cast<int32_t>(i);
    tally.Count(level.zoom, x, y, tile.state);
    pixels.push_back(tile.state == TileState::kPresent ? &tile.rgba : nullptr);
    if (tile.state != TileState::kPresent) continue;
    if (!packed.KindKnown()) packed.SetKind(kind);
    packed.PutDownloaded(level.zoom, x, y, tile.bytes, kind);
  }
  return pixels;
}

}  // namespace

PackageExtent WritePackageTiles(const MosaicLevels& levels, const MosaicOptions& options, PackageKinds kinds,
                                const std::string& blankBytes, TileTally& tally, const PutTile& put,
                                const GetTile& get) {
  PackageExtent extent = PackageExtentOf(levels, options);
  const int steps = levels.front().zoom - extent.minZoom;
  PackedTiles packed(levels.front().zoom, options, kinds, extent, put, get);
  if (kinds == PackageKinds::kOne) packed.SetKind(MostCommonKind(CountTileKinds(levels, blankBytes)));
  for (const MosaicSource& level : levels) {
    const bool feedsPyramid = &level == &levels.front() && steps > 0;
    // Only the tiles the levels below are made of are decoded, and at the size they are used.
    const TileLoader loader(level, blankBytes, feedsPyramid ? TileDecoding::kHalved : TileDecoding::kChecked);
    for (const PyramidRange& band : BandsOf(RangeOf(level))) {
      TilePyramid pyramid(band, feedsPyramid ? std::min(steps, kBandSteps) : 0, packed.Sink());
      for (int32_t y = band.minY; y <= band.maxY; ++y) {
        std::vector<MosaicTile> tiles = LoadTiles(loader, y, band.minX, band.maxX);
        pyramid.AddRun(y, band.minX, PutRow(level, y, band.minX, tiles, tally, packed), true);
        pyramid.EndRow(y);
      }
    }
  }
  MakeUpperLevels(RangeOf(levels.front()), steps, packed.Reader(), packed.Sink());
  if (extent.format.empty()) extent.format = "jpg";
  return extent;
}
