// Which tile a request path asks for: the tile source's URL path at a zoom, column and row.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct TileKey {
  int zoom = 0;
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const TileKey&, const TileKey&) = default;
};

// The tile a path names, or nothing when the path is not a tile URL or the tile lies outside
// the grid (zoom 0 to 30, column and row 0 to 2^zoom - 1).
std::optional<TileKey> ParseTileRequest(std::string_view path);
