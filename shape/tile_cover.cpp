// Rasterising a shape onto the tile grid: the shape is cut into bands of rows, halving them until
// one row is left (so the work grows with the outline times the depth, not with the rows), and in
// one row each connected piece touches the columns between its westmost and eastmost points.
#include "shape/tile_cover.h"

#include <ogr_geometry.h>

#include <algorithm>
#include <limits>

#include "engine/Commonfunc.h"
#include "shape/area_shape.h"

namespace {

class CoverBuilder {
 public:
  CoverBuilder(TileCover& cover, const DegreeBox& box) : cover_(cover), box_(box) {}

  void Walk(const OGRGeometry& g, int32_t y0, int32_t y1) {
    if (g.IsEmpty()) return;
    if (y0 == y1) {
      AddPieces(g, y0);
      return;
    }
    const int32_t mid = y0 + (y1 - y0) / 2;
    for (const auto& [first, last] : {std::pair{y0, mid}, std::pair{mid + 1, y1}}) {
      const std::unique_ptr<OGRPolygon> band = Band(first, last);
      std::unique_ptr<OGRGeometry> piece(g.Intersection(band.get()));
      if (piece) Walk(*piece, first, last);
    }
  }

 private:
  // Rows first..last, edges included, a little wider than the shape.
  std::unique_ptr<OGRPolygon> Band(int32_t first, int32_t last) const {
    const auto z = static_cast<uint8_t>(cover_.zoom);
    const double north = TileYToLat(first, z), south = TileYToLat(static_cast<double>(last) + 1, z);
    const double west = std::max(-180.0, box_.west - 1), east = std::min(180.0, box_.east + 1);
    OGRLinearRing ring;
    ring.addPoint(west, north);
    ring.addPoint(east, north);
    ring.addPoint(east, south);
    ring.addPoint(west, south);
    ring.closeRings();
    auto band = std::make_unique<OGRPolygon>();
    band->addRing(&ring);
    return band;
  }

  // A connected piece meets every column between its west and east ends.
  void AddPieces(const OGRGeometry& g, int32_t y) {
    if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
      for (const OGRGeometry* part : *parts) AddPieces(*part, y);
      return;
    }
    if (g.IsEmpty()) return;
    OGREnvelope box;
    g.getEnvelope(&box);
    const auto z = static_cast<uint8_t>(cover_.zoom);
    const int32_t last = static_cast<int32_t>((int64_t{1} << cover_.zoom) - 1);
    const int32_t west = std::clamp(LonToTileX(box.MinX, z), 0, last);
    const int32_t east = std::clamp(LonToTileX(box.MaxX, z), 0, last);
    cover_.rows[static_cast<size_t>(y - cover_.minY)].push_back({west, east});
  }

  TileCover& cover_;
  const DegreeBox box_;
};

void MergeIntervals(std::vector<ColumnInterval>& row) {
  std::sort(row.begin(), row.end(), [](const ColumnInterval& a, const ColumnInterval& b) { return a.first < b.first; });
  std::vector<ColumnInterval> merged;
  for (const ColumnInterval& i : row) {
    if (!merged.empty() && i.first <= merged.back().last + 1) {
      merged.back().last = std::max(merged.back().last, i.last);
    } else {
      merged.push_back(i);
    }
  }
  row.swap(merged);
}

}  // namespace

int64_t TileCover::Tiles() const {
  int64_t tiles = 0;
  for (const auto& row : rows) {
    for (const ColumnInterval& i : row) tiles += int64_t{i.last} - i.first + 1;
  }
  return tiles;
}

bool TileCover::Contains(int32_t x, int32_t y) const {
  if (y < minY || y > maxY) return false;
  const auto& row = rows[static_cast<size_t>(y - minY)];
  const auto at = std::upper_bound(row.begin(), row.end(), x,
                                   [](int32_t value, const ColumnInterval& i) { return value < i.first; });
  return at != row.begin() && x <= std::prev(at)->last;
}

TileCover CoverOf(const AreaShape& shape, int zoom) {
  TileCover cover;
  cover.zoom = zoom;
  const DegreeBox box = shape.Bounds();
  const auto z = static_cast<uint8_t>(zoom);
  cover.minY = LatToTileY(box.north, z);
  cover.maxY = LatToTileY(box.south, z);
  cover.rows.resize(static_cast<size_t>(cover.maxY - cover.minY + 1));
  CoverBuilder builder(cover, box);
  // Areas, lines and points separately: the cut of a mixed collection is not defined.
  const auto& parts = dynamic_cast<const OGRGeometryCollection&>(shape.Geometry());
  for (const OGRGeometry* part : parts) builder.Walk(*part, cover.minY, cover.maxY);
  cover.minX = std::numeric_limits<int32_t>::max();
  cover.maxX = std::numeric_limits<int32_t>::min();
  for (auto& row : cover.rows) {
    MergeIntervals(row);
    if (row.empty()) continue;
    cover.minX = std::min(cover.minX, row.front().first);
    cover.maxX = std::max(cover.maxX, row.back().last);
  }
  if (cover.minX > cover.maxX) cover.minX = 0, cover.maxX = -1;
  return cover;
}
