// Tile file names beyond TileFileName: the two halves around the row, for writers that name many
// tiles of a column, and the test that a name is a tile's, for cleaning the tile folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TDownTask;

// TileFileName(task, x, y) == TileNameBeforeRow(task, x) + y + TileNameAfterRow(task).
std::string TileNameBeforeRow(const TDownTask& task, int32_t x);  // "kv_2412_"
std::string TileNameAfterRow(const TDownTask& task);              // "_13.jpg"

// Whether name has the shape of a tile file name of the map source, of any column, row and zoom.
bool IsTileFileName(std::string_view name);
// The column, row and zoom a tile file name holds; none for a name of another shape or with a
// number beyond 32 bits.
struct TileFileNumbers {
  int32_t x = 0, y = 0;
  int zoom = 0;
};
std::optional<TileFileNumbers> ParseTileFileName(std::string_view name);
// Removes from the task's tile folder the temporary files that interrupted tile writes left.
void RemoveTileLeftovers(const TDownTask& task);

// The path of a tile URL: kSatelliteTilePath + zoom + "/" + x + "/" + y + kSatelliteTileSuffix.
inline constexpr std::string_view kSatelliteTilePath = "/maptiler/v2/maptile/newest/satellite.day/";
inline constexpr std::string_view kSatelliteTileSuffix = "/256/png8";
// The file name of a tile of the map source at a zoom: kv_X_Y_Z.jpg.
std::string SatelliteTileFileName(int zoom, int32_t x, int32_t y);
// The URL of a tile of the map source on a tile server: a host or host:port, or a URL template.
std::string SatelliteTileUrl(const std::string& tileServer, int zoom, int32_t x, int32_t y);
