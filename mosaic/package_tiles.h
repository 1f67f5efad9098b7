// Every tile of a tile package: the downloaded bytes of each level, and the levels below the
// coarsest one made from its tiles, without a request.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mosaic/mosaic_writer.h"
#include "mosaic/tile_tally.h"

// Receives each tile of the package once, in no particular order of levels.
using PutTile = std::function<void(int zoom, int32_t x, int32_t y, const std::string& bytes)>;
// The bytes of a tile put before; empty when there is none.
using GetTile = std::function<std::string(int zoom, int32_t x, int32_t y)>;

// What image kinds a package may hold side by side.
enum class PackageKinds {
  kOne,    // one kind for every tile: the downloaded tiles of the other kind are encoded anew
  kMixed,  // each tile as it is; a made tile that is partly empty is a PNG with its transparency
  kAsDownloaded,  // each downloaded tile as it is; made tiles as the first one, over the fill colour
};

struct PackageExtent {
  int minZoom = 0;
  int maxZoom = 0;
  // The levels made from the tiles below; none when madeMinZoom > madeMaxZoom.
  int madeMinZoom = 0;
  int madeMaxZoom = -1;
  std::string format;  // "jpg" or "png": the package's one kind, or that of the first tile
  // The area asked for, within what every level covers: what a reader shows first and zooms to.
  DegreeBounds bounds;
  double centerLon = 0, centerLat = 0;
  int centerZoom = 0;  // the zoom at which the bounds fill a usual view, within the package's zooms
  std::string name;    // the task's name, or the level set's
  int64_t packed = 0;  // tiles put, made ones included
  int64_t reencoded = 0;  // downloaded tiles encoded anew into the package's one kind
  std::vector<std::string> notes;  // what a reader of the package should know, each a sentence
};

// The levels from options.lowerZoom (when below the coarsest level) to the finest. Tiles that
// are not JPEG or PNG images are counted as not an image and left out. The levels made far
// below the coarsest one are made from tiles put before, got back through get.
PackageExtent WritePackageTiles(const MosaicLevels& levels, const MosaicOptions& options, PackageKinds kinds,
                                const std::string& blankBytes, TileTally& tally, const PutTile& put,
                                const GetTile& get);
// The extent WritePackageTiles will cover, before any tile is read (no format yet).
PackageExtent PackageExtentOf(const MosaicLevels& levels, const MosaicOptions& options);
// The task's name, or the level set's for the levels of a set.
std::string PackageName(const MosaicLevels& levels);
