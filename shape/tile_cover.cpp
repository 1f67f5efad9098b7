// Rasterising a shape onto the tile grid: the shape is cut into bands of columns, halving them
// until one column is left (so the work grows with the outline times the depth, not with the
// columns), and in one column each connected piece takes the rows between its northmost and
// southmost points. An area's piece takes only the rows whose inside it reaches: its interior is
// connected, so it covers part of every row between its ends. Lines and points take every tile
// their closed square meets.
#include "shape/tile_cover.h"

#include <cpl_error.h>
#include <ogr_geometry.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "engine/Commonfunc.h"
#include "shape/area_shape.h"
#include "shape/tile_grid.h"

namespace {

// The polygon with its vertices that lie within a hair of a tile edge moved onto it, so that a cut
// along such an edge leaves nothing on the far side. A spike a hair wide along a tile edge
// collapses into a line, which the cuts take as they take any outline that touches itself.
std::unique_ptr<OGRPolygon> OnTileEdges(const OGRPolygon& area, const TileGrid& grid) {
  std::unique_ptr<OGRPolygon> snapped(area.clone());
  for (OGRLinearRing* ring : *snapped) {
    for (int i = 0; i < ring->getNumPoints(); ++i) {
      ring->setPoint(i, grid.OnEdgeLon(ring->getX(i)), grid.OnEdgeLat(ring->getY(i)));
    }
  }
  return snapped;
}

class CoverBuilder {
 public:
  CoverBuilder(int zoom, int32_t minX, const DegreeBox& box, std::vector<std::vector<RowInterval>>& columns)
      : zoom_(zoom), grid_(zoom), minX_(minX), box_(box), columns_(columns) {}

  // areas: g is an area, whose pieces take only the tiles they share area with; the lines and
  // points where it only touches a band are left out in the end.
  void Walk(const OGRGeometry& g, int32_t x0, int32_t x1, bool areas) {
    if (g.IsEmpty()) return;
    if (x0 == x1) {
      if (areas) {
        AddAreaPieces(g, x0);
      } else {
        AddPieces(g, x0);
      }
      return;
    }
    const int32_t mid = x0 + (x1 - x0) / 2;
    for (const auto& [first, last] : {std::pair{x0, mid}, std::pair{mid + 1, x1}}) {
      const std::unique_ptr<OGRPolygon> band = Band(first, last);
      std::unique_ptr<OGRGeometry> piece(g.Intersection(band.get()));
      // A failed cut would drop tiles without a word.
      if (!piece) throw ShapeError("The shape cannot be cut into tiles: " + std::string(CPLGetLastErrorMsg()));
      Walk(*piece, first, last, areas);
    }
  }

 private:
  // Columns first..last, edges included, a little higher than the shape.
  std::unique_ptr<OGRPolygon> Band(int32_t first, int32_t last) const {
    const auto z = static_cast<uint8_t>(zoom_);
    const double west = TileXToLon(first, z), east = TileXToLon(static_cast<double>(last) + 1, z);
    const double north = std::min(90.0, box_.north + 1), south = std::max(-90.0, box_.south - 1);
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

  // A connected piece meets every row between its north and south ends.
  void AddPieces(const OGRGeometry& g, int32_t x) {
    if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
      for (const OGRGeometry* part : *parts) AddPieces(*part, x);
      return;
    }
    if (g.IsEmpty()) return;
    OGREnvelope box;
    g.getEnvelope(&box);
    const auto z = static_cast<uint8_t>(zoom_);
    const int32_t last = static_cast<int32_t>((int64_t{1} << zoom_) - 1);
    const int32_t north = std::clamp(LatToTileY(box.MaxY, z), 0, last);
    const int32_t south = std::clamp(LatToTileY(box.MinY, z), 0, last);
    columns_[static_cast<size_t>(x - minX_)].push_back({north, south});
  }

  // A piece of an area in column x takes the rows whose inside it reaches. Its vertices on tile
  // edges lie on them exactly, so a cut along such an edge leaves only lines on the far side.
  void AddAreaPieces(const OGRGeometry& g, int32_t x) {
    if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
      for (const OGRGeometry* part : *parts) AddAreaPieces(*part, x);
      return;
    }
    if (!dynamic_cast<const OGRPolygon*>(&g) || g.IsEmpty()) return;
    OGREnvelope box;
    g.getEnvelope(&box);
    const double last = static_cast<double>(grid_.Tiles() - 1);
    // A piece thinner than a hair ends south of where it begins, an interval the cover drops.
    const double north = std::floor(grid_.Row(box.MaxY)), south = std::ceil(grid_.Row(box.MinY)) - 1;
    columns_[static_cast<size_t>(x - minX_)].push_back(
        {static_cast<int32_t>(std::clamp(north, 0.0, last)), static_cast<int32_t>(std::clamp(south, 0.0, last))});
  }

  const int zoom_;
  const TileGrid grid_;
  const int32_t minX_;
  const DegreeBox box_;
  std::vector<std::vector<RowInterval>>& columns_;
};

template <typename Visit>
void ForEachPart(const OGRGeometry& g, Visit&& visit) {
  if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
    for (const OGRGeometry* part : *parts) ForEachPart(*part, visit);
  } else if (!g.IsEmpty()) {
    visit(g);
  }
}

}  // namespace

AreaCover CoverOf(const AreaShape& shape, int zoom) {
  const DegreeBox box = shape.Bounds();
  const auto z = static_cast<uint8_t>(zoom);
  const int32_t last = static_cast<int32_t>((int64_t{1} << zoom) - 1);
  const int32_t minX = std::clamp(LonToTileX(box.west, z), 0, last);
  const int32_t maxX = std::clamp(LonToTileX(box.east, z), 0, last);
  std::vector<std::vector<RowInterval>> columns(static_cast<size_t>(maxX - minX + 1));
  const TileGrid grid(zoom);
  CoverBuilder builder(zoom, minX, box, columns);
  // Every polygon, line and point on its own: the cut of a mixed collection is not defined, and
  // polygons of different features may overlap, which a multipolygon may not.
  ForEachPart(shape.Geometry(), [&](const OGRGeometry& part) {
    OGREnvelope box;
    part.getEnvelope(&box);
    const int32_t west = std::clamp(LonToTileX(box.MinX, z), 0, last), east = std::clamp(LonToTileX(box.MaxX, z), 0, last);
    if (const auto* polygon = dynamic_cast<const OGRPolygon*>(&part)) {
      builder.Walk(*OnTileEdges(*polygon, grid), west, east, true);
    } else {
      builder.Walk(part, west, east, false);
    }
  });
  return AreaCover(zoom, minX, std::move(columns));
}
