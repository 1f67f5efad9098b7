// Turning shapes into degrees edge by edge: each edge is split where its curve in degrees strays
// from a straight segment, judged at a few points in Web Mercator tiles of a fine zoom.
#include "shape/edge_densify.h"

#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "shape/area_shape.h"

namespace {

struct NotTransformed {};
struct Across180 {};

// A point in the source coordinates and in degrees.
struct Vertex {
  double x, y, lon, lat;
};

// An offset in degrees as tiles of the stray zoom around a latitude, where Web Mercator stretches
// a degree of latitude 1 / cos(latitude) times a degree of longitude.
struct TileOffset {
  double x, y;
};

TileOffset Offset(const Vertex& from, const Vertex& to, double lat) {
  const double perLon = std::ldexp(1.0, kEdgeStrayZoom) / 360;
  const double latitude = std::min(std::abs(lat), kShapeLatitudeLimit) * M_PI / 180;
  return {(to.lon - from.lon) * perLon, (to.lat - from.lat) * perLon / std::cos(latitude)};
}

double ChordTiles(const Vertex& a, const Vertex& b) {
  const TileOffset ab = Offset(a, b, (a.lat + b.lat) / 2);
  return std::hypot(ab.x, ab.y);
}

// How far p lies from the segment a-b, in tiles.
double StrayTiles(const Vertex& a, const Vertex& b, const Vertex& p) {
  const double lat = (a.lat + b.lat) / 2;
  const TileOffset ab = Offset(a, b, lat), ap = Offset(a, p, lat);
  const double length2 = ab.x * ab.x + ab.y * ab.y;
  const double t = length2 > 0 ? std::clamp((ap.x * ab.x + ap.y * ab.y) / length2, 0.0, 1.0) : 0.0;
  return std::hypot(ap.x - t * ab.x, ap.y - t * ab.y);
}

// No edge is split into more than 2^kMaxDepth pieces: the error halves twice with every halving,
// so this is far more than any edge on the ground needs, and it bounds an edge whose curve jumps
// (across the 180th meridian, or through a point its projection cannot map).
constexpr int kMaxDepth = 12;

class EdgeSplitter {
 public:
  explicit EdgeSplitter(OGRCoordinateTransformation& toDegrees) : toDegrees_(toDegrees) {}

  void Transform(OGRGeometry& g) {
    if (auto* parts = dynamic_cast<OGRGeometryCollection*>(&g)) {
      for (OGRGeometry* part : *parts) Transform(*part);
    } else if (auto* polygon = dynamic_cast<OGRPolygon*>(&g)) {
      for (OGRLinearRing* ring : *polygon) TransformCurve(*ring);
    } else if (auto* curve = dynamic_cast<OGRSimpleCurve*>(&g)) {
      TransformCurve(*curve);
    } else if (g.transform(&toDegrees_) != OGRERR_NONE) {  // a point
      throw NotTransformed{};
    }
  }

 private:
  void TransformCurve(OGRSimpleCurve& curve) {
    const int n = curve.getNumPoints();
    std::vector<double> x(static_cast<size_t>(n)), y(x.size());
    curve.getPoints(x.data(), sizeof(double), y.data(), sizeof(double));
    std::vector<double> lon = x, lat = y;
    if (n > 0 && !toDegrees_.Transform(static_cast<size_t>(n), lon.data(), lat.data())) throw NotTransformed{};
    std::vector<Vertex> out;
    out.reserve(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
      const Vertex v{x[i], y[i], lon[i], lat[i]};
      if (i > 0) AddEdge(out.back(), v, out);
      out.push_back(v);
    }
    lon.clear();
    lat.clear();
    for (const Vertex& v : out) {
      lon.push_back(v.lon);
      lat.push_back(v.lat);
    }
    curve.setPoints(static_cast<int>(out.size()), lon.data(), lat.data());
  }

  // The middle of a-b in its own coordinates. A point that is not finite in degrees is refused
  // when the shape's coordinates are checked.
  Vertex At(const Vertex& a, const Vertex& b) {
    const double x = (a.x + b.x) / 2, y = (a.y + b.y) / 2;
    Vertex v{x, y, x, y};
    if (!toDegrees_.Transform(1, &v.lon, &v.lat)) throw NotTransformed{};
    return v;
  }

  // Appends the points that an edge from a to b needs between them. An edge shorter than a tile
  // bends by far less than the tolerance, so it is taken as it is without a look at its middle.
  void AddEdge(const Vertex& a, const Vertex& b, std::vector<Vertex>& out) {
    if (ChordTiles(a, b) < 1) return;
    Split(a, b, At(a, b), 0, out);
  }

  // m is the middle of the edge a-b in its own coordinates. The edge is looked at in its middle
  // and its quarters, so that a curve crossing its chord halfway is still seen.
  // An edge that still leaps from one side of the 180th meridian to the other after every halving
  // crosses it.
  void Split(const Vertex& a, const Vertex& b, const Vertex& m, int depth, std::vector<Vertex>& out) {
    if (depth == kMaxDepth) {
      if (std::abs(b.lon - a.lon) > 180) throw Across180{};
      return;
    }
    const Vertex q1 = At(a, m), q3 = At(m, b);
    const double stray = std::max({StrayTiles(a, b, m), StrayTiles(a, b, q1), StrayTiles(a, b, q3)});
    if (stray <= kEdgeStrayTiles) return;
    Split(a, m, q1, depth + 1, out);
    out.push_back(m);
    Split(m, b, q3, depth + 1, out);
  }

  OGRCoordinateTransformation& toDegrees_;
};

}  // namespace

EdgeTransform TransformAlongEdges(OGRGeometry& g, OGRCoordinateTransformation& toDegrees) {
  try {
    EdgeSplitter(toDegrees).Transform(g);
  } catch (const NotTransformed&) {
    return EdgeTransform::kNotTransformed;
  } catch (const Across180&) {
    return EdgeTransform::kAcross180;
  }
  g.assignSpatialReference(toDegrees.GetTargetCS());
  return EdgeTransform::kDone;
}
