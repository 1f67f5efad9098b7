// Tile grid math of the spherical Mercator tile grid, in x87 extended precision.
#pragma once

#include <cstdint>

// Column containing a longitude at a zoom (2^zoom columns, column 0 at 180 degrees West).
int32_t LonToTileX(double lon, uint8_t zoom);
// Row containing a latitude (row 0 is the northernmost).
int32_t LatToTileY(double lat, uint8_t zoom);
// Longitude of the west edge of column x.
double TileXToLon(double x, uint8_t zoom);
// Latitude of the north edge of row y.
double TileYToLat(double y, uint8_t zoom);
