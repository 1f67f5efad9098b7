// Choosing a download area on a web map: a rectangle over the world grid that the user draws
// and adjusts by its edges, the tile range it amounts to at a download zoom, and the world grid's
// relation to longitudes and latitudes.
#pragma once

#include <cstdint>

#include "mapview/view_geometry.h"

namespace mapview {

// A rectangle in cells of the world grid (zoom kWorldZoom), fractions included; x0 <= x1, y0 <= y1.
struct WorldRect {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool operator==(const WorldRect&) const = default;
};
// The rectangle between two points, within the world.
WorldRect Spanned(double ax, double ay, double bx, double by);

// An inclusive range of tiles of one zoom, as the download takes it.
struct TileRange {
  int zoom = 0;
  int64_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  int64_t Count() const { return (maxX - minX + 1) * (maxY - minY + 1); }
  bool operator==(const TileRange&) const = default;
};
// A range's tiles moved by a distance in cells, rounded to whole tiles of its zoom and kept within
// the rows the coordinate fields can name, so the range keeps its size.
TileRange MovedByTiles(const TileRange& range, double dx, double dy);
// The tiles of the zoom that the rectangle touches, its rows kept within those the coordinate
// fields can name.
TileRange RangeAt(const WorldRect& rect, int zoom);
// The cells of the world grid a range covers.
CellRect WorldCellsOf(const TileRange& range);

// Edges of a rectangle on screen, as bits; kInside for a point well within it.
enum Edge : int { kNoEdge = 0, kLeft = 1, kRight = 2, kTop = 4, kBottom = 8, kInside = 16 };
// The edges (a corner is two) within slop screen pixels of the point, or kInside, or kNoEdge.
int EdgesNear(const Viewport& view, const CellRect& shown, double screenX, double screenY, double slop);
// The rectangle with the given edges brought to the point. Dragged past the opposite edge, the
// edges swap roles: edges is updated to name the ones the point now holds.
WorldRect Dragged(const WorldRect& rect, int& edges, double worldX, double worldY);

// World grid position of a longitude and latitude, and back.
double WorldXOf(double longitude);
double WorldYOf(double latitude);
double LongitudeOf(double worldX);
double LatitudeOf(double worldY);
// Rings in degrees as positions on the tile grid of zoom.
std::vector<PointRing> RingsOnGrid(const std::vector<PointRing>& degrees, int zoom);

}  // namespace mapview
