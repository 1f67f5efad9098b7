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

struct PackageExtent {
  int minZoom = 0;
  int maxZoom = 0;
  std::string format;  // "jpg" or "png", from the first tile; empty when there was none
  DegreeBounds bounds;   // of every level together
};

// The levels from options.lowerZoom (when below the coarsest level) to the finest. Tiles that
// are not JPEG or PNG images are counted as not an image and left out. The levels made far
// below the coarsest one are made from tiles put before, got back through get.
PackageExtent WritePackageTiles(const MosaicLevels& levels, const MosaicOptions& options, const std::string& blankBytes,
                                TileTally& tally, const PutTile& put, const GetTile& get);
// The extent WritePackageTiles will cover, before any tile is read.
PackageExtent PackageExtentOf(const MosaicLevels& levels, const MosaicOptions& options);
