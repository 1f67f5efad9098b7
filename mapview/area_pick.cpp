// Rectangles on the world grid and the tile ranges they give.
#include "mapview/area_pick.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "engine/Commonfunc.h"
#include "engine/area_texts.h"
#include "mapview/web_tile_source.h"

namespace mapview {

namespace {

double WorldSide() { return std::ldexp(1.0, kWorldZoom); }
double Clamped(double v) { return std::clamp(v, 0.0, WorldSide()); }

}  // namespace

WorldRect Spanned(double ax, double ay, double bx, double by) {
  return {Clamped(std::min(ax, bx)), Clamped(std::min(ay, by)), Clamped(std::max(ax, bx)), Clamped(std::max(ay, by))};
}

TileRange MovedByTiles(const TileRange& range, double dx, double dy) {
  const double scale = std::ldexp(1.0, kWorldZoom - range.zoom);
  const RowSpan rows = NameableRows(range.zoom);
  const int64_t lastColumn = (int64_t{1} << range.zoom) - 1;
  const auto tiles = [scale](double d) { return static_cast<int64_t>(std::llround(d / scale)); };
  const int64_t columns = std::clamp(tiles(dx), -range.minX, std::max<int64_t>(0, lastColumn - range.maxX));
  const int64_t lines = std::clamp(tiles(dy), std::min<int64_t>(0, rows.first - range.minY),
                                   std::max<int64_t>(0, rows.last - range.maxY));
  return {range.zoom, range.minX + columns, range.minY + lines, range.maxX + columns, range.maxY + lines};
}

TileRange RangeAt(const WorldRect& rect, int zoom) {
  const double scale = std::ldexp(1.0, kWorldZoom - zoom);
  const int64_t last = (int64_t{1} << zoom) - 1;
  const auto first = [&](double v) { return std::clamp<int64_t>(static_cast<int64_t>(std::floor(v / scale)), 0, last); };
  // The far edge lies on the tile boundary it touches, so a rectangle ending on an edge takes no
  // tile beyond it.
  const auto lastOf = [&](double lo, double hi) {
    return std::max(first(lo), std::clamp<int64_t>(static_cast<int64_t>(std::ceil(hi / scale)) - 1, 0, last));
  };
  const RowSpan rows = NameableRows(zoom);
  TileRange range{zoom, first(rect.x0), first(rect.y0), lastOf(rect.x0, rect.x1), lastOf(rect.y0, rect.y1)};
  range.minY = std::clamp(range.minY, rows.first, rows.last);
  range.maxY = std::clamp(range.maxY, rows.first, rows.last);
  return range;
}

CellRect WorldCellsOf(const TileRange& range) {
  const int shift = kWorldZoom - range.zoom;
  return {range.minX << shift, range.minY << shift, (range.maxX + 1) << shift, (range.maxY + 1) << shift};
}

int EdgesNear(const Viewport& view, const CellRect& shown, double screenX, double screenY, double slop) {
  const double left = view.ScreenX(shown.x0), right = view.ScreenX(shown.x1);
  const double top = view.ScreenY(shown.y0), bottom = view.ScreenY(shown.y1);
  if (screenX < left - slop || screenX > right + slop || screenY < top - slop || screenY > bottom + slop) {
    return kNoEdge;
  }
  // On a rectangle a few pixels across the nearer edge wins, so each edge stays reachable.
  int edges = 0;
  if (std::abs(screenX - left) <= slop || std::abs(screenX - right) <= slop) {
    edges |= std::abs(screenX - left) <= std::abs(screenX - right) ? kLeft : kRight;
  }
  if (std::abs(screenY - top) <= slop || std::abs(screenY - bottom) <= slop) {
    edges |= std::abs(screenY - top) <= std::abs(screenY - bottom) ? kTop : kBottom;
  }
  return edges != 0 ? edges : kInside;
}

WorldRect Dragged(const WorldRect& rect, int& edges, double worldX, double worldY) {
  WorldRect r = rect;
  worldX = Clamped(worldX);
  worldY = Clamped(worldY);
  if (edges & kLeft) r.x0 = worldX;
  if (edges & kRight) r.x1 = worldX;
  if (edges & kTop) r.y0 = worldY;
  if (edges & kBottom) r.y1 = worldY;
  if (r.x0 > r.x1) {
    std::swap(r.x0, r.x1);
    edges ^= kLeft | kRight;
  }
  if (r.y0 > r.y1) {
    std::swap(r.y0, r.y1);
    edges ^= kTop | kBottom;
  }
  return r;
}

double WorldXOf(double longitude) { return (longitude + 180.0) / 360.0 * WorldSide(); }

double WorldYOf(double latitude) {
  const double phi = latitude * std::numbers::pi / 180.0;
  return (1.0 - std::asinh(std::tan(phi)) / std::numbers::pi) / 2.0 * WorldSide();
}

double LongitudeOf(double worldX) { return TileXToLon(worldX, kWorldZoom); }

double LatitudeOf(double worldY) { return TileYToLat(worldY, kWorldZoom); }

std::vector<PointRing> RingsOnGrid(const std::vector<PointRing>& degrees, int zoom) {
  const double scale = std::ldexp(1.0, zoom - kWorldZoom);
  std::vector<PointRing> rings;
  rings.reserve(degrees.size());
  for (const PointRing& ring : degrees) {
    PointRing& grid = rings.emplace_back();
    grid.reserve(ring.size());
    for (const auto& [lon, lat] : ring) grid.emplace_back(WorldXOf(lon) * scale, WorldYOf(lat) * scale);
  }
  return rings;
}

}  // namespace mapview
