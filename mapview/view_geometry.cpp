// Map view arithmetic: pieces, levels, zoom about a point, pan.
#include "mapview/view_geometry.h"

#include <algorithm>
#include <cmath>

namespace mapview {

namespace {

int64_t FloorDiv(int64_t value, int64_t divisor) {
  return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

}  // namespace

CellRect Intersection(const CellRect& a, const CellRect& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

CellRect PiecesOver(const CellRect& tiles, int level) {
  if (tiles.Empty()) return {};
  const int64_t side = int64_t{1} << level;
  return {FloorDiv(tiles.x0, side), FloorDiv(tiles.y0, side), FloorDiv(tiles.x1 - 1, side) + 1,
          FloorDiv(tiles.y1 - 1, side) + 1};
}

CellRect TilesOf(const PieceKey& piece, const CellRect& area) {
  const int64_t side = int64_t{1} << piece.level;
  return Intersection({piece.x * side, piece.y * side, (piece.x + 1) * side, (piece.y + 1) * side}, area);
}

int TopLevel(const CellRect& area) {
  int level = 0;
  while (PiecesOver(area, level).Count() > 1) ++level;
  return level;
}

double MinPixelsPerTile(const CellRect& area, int width, int height) {
  const double across = static_cast<double>(std::max<int64_t>(area.x1 - area.x0, 1));
  const double down = static_cast<double>(std::max<int64_t>(area.y1 - area.y0, 1));
  return std::min({width / across, height / down, kMaxPixelsPerTile}) / 4;
}

Viewport FitArea(const CellRect& area, int width, int height) {
  Viewport view;
  view.width = std::max(width, 1);
  view.height = std::max(height, 1);
  view.centerX = (area.x0 + area.x1) / 2.0;
  view.centerY = (area.y0 + area.y1) / 2.0;
  const double fit = 4 * MinPixelsPerTile(area, view.width, view.height) * 0.95;
  view.pixelsPerTile = std::min(fit, static_cast<double>(kTilePixels));
  return view;
}

Viewport ZoomedAbout(const Viewport& view, const CellRect& area, double factor, double screenX, double screenY) {
  Viewport next = view;
  const double low = MinPixelsPerTile(area, view.width, view.height);
  next.pixelsPerTile = std::clamp(view.pixelsPerTile * factor, low, kMaxPixelsPerTile);
  const double anchorX = view.TileX(screenX), anchorY = view.TileY(screenY);
  next.centerX = anchorX - (screenX - view.width / 2.0) / next.pixelsPerTile;
  next.centerY = anchorY - (screenY - view.height / 2.0) / next.pixelsPerTile;
  return Panned(next, area, 0, 0);
}

Viewport Panned(const Viewport& view, const CellRect& area, double dx, double dy) {
  Viewport next = view;
  next.centerX = std::clamp(view.centerX - dx / view.pixelsPerTile, static_cast<double>(area.x0),
                            static_cast<double>(area.x1));
  next.centerY = std::clamp(view.centerY - dy / view.pixelsPerTile, static_cast<double>(area.y0),
                            static_cast<double>(area.y1));
  return next;
}

int DetailLevel(double pixelsPerTile, int topLevel) {
  const double level = std::round(std::log2(kTilePixels / pixelsPerTile));
  return static_cast<int>(std::clamp(level, 0.0, static_cast<double>(topLevel)));
}

CellRect VisiblePieces(const Viewport& view, const CellRect& area, int level) {
  const CellRect seen{static_cast<int64_t>(std::floor(view.TileX(0))), static_cast<int64_t>(std::floor(view.TileY(0))),
                      static_cast<int64_t>(std::floor(view.TileX(view.width))) + 1,
                      static_cast<int64_t>(std::floor(view.TileY(view.height))) + 1};
  return PiecesOver(Intersection(seen, area), level);
}

}  // namespace mapview
