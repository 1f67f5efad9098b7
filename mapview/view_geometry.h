// Where a map view looks: a centre and a scale over the tile grid of one zoom, and the image
// pieces that cover what it shows. A piece of level L is 256 pixels wide and covers 2^L by 2^L
// tiles of the grid, so level 0 is the tiles themselves and each level up halves the detail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace mapview {

inline constexpr int kTilePixels = 256;
// Views closer than one tile pixel per screen pixel magnify up to this many screen pixels a tile.
inline constexpr double kMaxPixelsPerTile = 4.0 * kTilePixels;

// A half-open rectangle of grid cells: columns [x0, x1), rows [y0, y1).
struct CellRect {
  int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool Empty() const { return x1 <= x0 || y1 <= y0; }
  int64_t Count() const { return Empty() ? 0 : (x1 - x0) * (y1 - y0); }
  bool Contains(int64_t x, int64_t y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
  bool operator==(const CellRect&) const = default;
};
CellRect Intersection(const CellRect& a, const CellRect& b);

// A line of points: longitude and latitude pairs, or positions on a tile grid.
using PointRing = std::vector<std::pair<double, double>>;

struct PieceKey {
  int level = 0;
  int64_t x = 0, y = 0;
  bool operator==(const PieceKey&) const = default;
};
struct PieceKeyHash {
  size_t operator()(const PieceKey& k) const {
    return std::hash<int64_t>()((k.x * 0x9E3779B97F4A7C15ULL) ^ (k.y << 6) ^ k.level);
  }
};

// The pieces of a level that hold any of the tiles of area (a rectangle of tiles).
CellRect PiecesOver(const CellRect& tiles, int level);
// The tiles a piece covers, clipped to area.
CellRect TilesOf(const PieceKey& piece, const CellRect& area);
// The lowest level whose single piece holds the whole area.
int TopLevel(const CellRect& area);

struct Viewport {
  double centerX = 0, centerY = 0;  // in tiles of the grid, fractions included
  double pixelsPerTile = kTilePixels;
  int width = 1, height = 1;  // in screen pixels

  double TileX(double screenX) const { return centerX + (screenX - width / 2.0) / pixelsPerTile; }
  double TileY(double screenY) const { return centerY + (screenY - height / 2.0) / pixelsPerTile; }
  double ScreenX(double tileX) const { return width / 2.0 + (tileX - centerX) * pixelsPerTile; }
  double ScreenY(double tileY) const { return height / 2.0 + (tileY - centerY) * pixelsPerTile; }
};

// The smallest scale a view of area may take: the whole area fits four times over.
double MinPixelsPerTile(const CellRect& area, int width, int height);
// The whole area in view with a small margin.
Viewport FitArea(const CellRect& area, int width, int height);
// The view scaled by factor with the tile under the screen point kept in place; the scale stays
// between MinPixelsPerTile and kMaxPixelsPerTile.
Viewport ZoomedAbout(const Viewport& view, const CellRect& area, double factor, double screenX, double screenY);
// The view moved by a screen distance; the middle of the screen stays over the area.
Viewport Panned(const Viewport& view, const CellRect& area, double dx, double dy);
// The level whose pieces come nearest to 256 screen pixels at this scale, at most topLevel.
int DetailLevel(double pixelsPerTile, int topLevel);
// The pieces of a level that are both in view and over the area.
CellRect VisiblePieces(const Viewport& view, const CellRect& area, int level);

}  // namespace mapview
