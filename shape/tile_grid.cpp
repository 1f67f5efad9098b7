// Web Mercator positions on the tile grid, in extended precision.
#include "shape/tile_grid.h"

#include <cmath>

#include "engine/Commonfunc.h"

TileGrid::TileGrid(int zoom)
    : zoom_(zoom), tiles_(int64_t{1} << zoom), snap_(kSnapDegrees / 360 * static_cast<double>(tiles_)) {}

double TileGrid::RawColumn(double lon) const {
  return static_cast<double>((static_cast<long double>(lon) + 180) / 360 * tiles_);
}

double TileGrid::RawRow(double lat) const {
  const long double pi = 3.141592653589793238462643383279502884L;
  const long double mercator = std::asinh(std::tan(static_cast<long double>(lat) * pi / 180));
  return static_cast<double>((1 - mercator / pi) / 2 * tiles_);
}

bool TileGrid::NearEdge(double position) const { return std::abs(position - std::round(position)) <= snap_; }

double TileGrid::Snapped(double position) const { return NearEdge(position) ? std::round(position) : position; }

double TileGrid::OnEdgeLon(double lon) const {
  const double column = RawColumn(lon);
  return NearEdge(column) ? TileXToLon(std::round(column), static_cast<uint8_t>(zoom_)) : lon;
}

double TileGrid::OnEdgeLat(double lat) const {
  const double row = RawRow(lat);
  return NearEdge(row) ? TileYToLat(std::round(row), static_cast<uint8_t>(zoom_)) : lat;
}
