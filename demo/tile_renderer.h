// Web Mercator tiles reprojected from an equirectangular world image.
#pragma once

#include "demo/jpeg_codec.h"
#include "demo/tile_request.h"

inline constexpr int kTileSize = 256;

// The 256 x 256 tile: each pixel's centre is placed with the tile-grid math and sampled from
// the world image (longitude -180..180 left to right, latitude 90..-90 top to bottom) with
// bilinear filtering; columns wrap around the antimeridian, rows stop at the poles.
RgbImage RenderTile(const RgbImage& world, const TileKey& tile);
