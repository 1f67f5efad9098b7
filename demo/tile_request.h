// Which tile a request asks for: the tile source's URL path at a zoom, column and row, a TMS path
// (rows from the south), a quadkey path, or a WMS GetMap of one tile's EPSG:3857 extent.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
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

// "/tms/Z/X/Y.jpg" with Y counted from the south (2^Z - 1 - row), or "/quadkey/Q.jpg" with the
// tile's quadkey ("/quadkey/.jpg" at zoom 0); nothing for any other path.
std::optional<TileKey> ParseTmsRequest(std::string_view path);
std::optional<TileKey> ParseQuadkeyRequest(std::string_view path);

// The path a WMS GetMap is asked at.
inline constexpr std::string_view kWmsPath = "/wms";
// The answer to a GetMap: the tile whose extent BBOX gives, or why there is none to give.
struct WmsAnswer {
  std::optional<TileKey> tile;
  std::string problem;
};
// arguments: the query's names in lower case with their values. REQUEST=GetMap and a BBOX
// "minx,miny,maxx,maxy" in EPSG:3857 metres that is one tile of the grid (to a thousandth of its
// side) are needed; CRS or SRS, when given, must be EPSG:3857, WIDTH and HEIGHT 256.
WmsAnswer ParseWmsRequest(const std::map<std::string, std::string>& arguments);
