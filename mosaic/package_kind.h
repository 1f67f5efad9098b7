// The one image kind of a package that holds a single kind: the kind most downloaded tiles have,
// told by their first bytes, so that only the fewer tiles of the other kind are encoded anew.
#pragma once

#include <cstdint>
#include <string>

#include "mosaic/mosaic_source.h"
#include "mosaic/tile_encoder.h"

struct TileKindCount {
  int64_t jpeg = 0;
  int64_t png = 0;
};

// The downloaded tiles inside the area of every level, by kind; blank tiles (blankBytes) and files
// that are neither are not counted. Only a tile's first bytes are read, and only from regular files.
TileKindCount CountTileKinds(const MosaicLevels& levels, const std::string& blankBytes);
// PNG when PNG tiles are at least as many as JPEG ones and there are any: a tie is broken towards
// the lossless kind.
TileImageKind MostCommonKind(const TileKindCount& count);
