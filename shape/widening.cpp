// Widening lines and points piece by piece, each piece simplified and buffered in metres about its
// own centre, and the pieces joined with a cascaded union.
#include "shape/widening.h"

#include <cpl_error.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <string>
#include <utility>

#include "shape/area_shape.h"

namespace {

// Longer edges in degrees are cut before projecting, and longer edges of a widened piece before
// projecting back, so that an edge straight in one system stays within centimetres of the same
// edge in the other.
constexpr double kLongestDegreeEdge = 0.01;
constexpr double kLongestMetreEdge = 1000;
// A projection is used for the pieces within this many degrees of its centre.
constexpr double kProjectionReach = 0.5;
// Longer than any degree of latitude (111,694 m at the poles) or of longitude (111,320 m).
constexpr double kMetresPerDegree = 111700;
// Within a piece, distances in the plane scaled from degrees differ from those on the ground by
// far less than this share.
constexpr double kToleranceSlack = 1.01;

bool Near(double lonA, double latA, double lonB, double latB) {
  return std::abs(lonA - lonB) * std::cos(latA * M_PI / 180) < kProjectionReach &&
         std::abs(latA - latB) < kProjectionReach;
}

OGRSpatialReference Degrees() {
  OGRSpatialReference srs;
  srs.importFromEPSG(4326);
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

// Longitudes more than half the world from the centre are put on its side of the 180th meridian.
void Unwrap(OGRGeometry& g, double centreLon) {
  if (auto* parts = dynamic_cast<OGRGeometryCollection*>(&g)) {
    for (OGRGeometry* part : *parts) Unwrap(*part, centreLon);
  } else if (auto* polygon = dynamic_cast<OGRPolygon*>(&g)) {
    for (OGRLinearRing* ring : *polygon) Unwrap(*ring, centreLon);
  } else if (auto* curve = dynamic_cast<OGRSimpleCurve*>(&g)) {
    for (int i = 0; i < curve->getNumPoints(); ++i) {
      const double lon = curve->getX(i);
      if (std::abs(lon - centreLon) > 180) curve->setPoint(i, lon + (lon < centreLon ? 360 : -360), curve->getY(i));
    }
  }
}

// Transformations to and from metres about a centre, made again only when a piece lies too far
// from the last centre (making one costs about a millisecond).
class LocalMetres {
 public:
  void CentreOn(const OGRGeometry& piece) {
    OGREnvelope box;
    piece.getEnvelope(&box);
    const double lon = (box.MinX + box.MaxX) / 2, lat = (box.MinY + box.MaxY) / 2;
    if (there_ && Near(lon, lat, lon_, lat_)) return;
    OGRSpatialReference local;
    local.SetWellKnownGeogCS("WGS84");
    local.SetAE(lat, lon, 0, 0);
    local.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    there_.reset(OGRCreateCoordinateTransformation(&degrees_, &local));
    back_.reset(OGRCreateCoordinateTransformation(&local, &degrees_));
    if (!there_ || !back_) {
      throw ShapeError("The shape cannot be widened: no projection about " + std::to_string(lat) + ", " +
                       std::to_string(lon) + ".");
    }
    lon_ = lon;
    lat_ = lat;
  }
  void There(OGRGeometry& g) const { Transform(g, *there_); }
  // Back to degrees, continuing east of 180 or west of -180 rather than wrapping round, so that
  // a shape widened over the 180th meridian is seen to reach beyond it.
  void Back(OGRGeometry& g) const {
    Transform(g, *back_);
    Unwrap(g, lon_);
  }

 private:
  static void Transform(OGRGeometry& g, OGRCoordinateTransformation& how) {
    if (g.transform(&how) != OGRERR_NONE) {
      throw ShapeError("The shape cannot be widened: " + std::string(CPLGetLastErrorMsg()));
    }
  }
  const OGRSpatialReference degrees_ = Degrees();
  std::unique_ptr<OGRCoordinateTransformation> there_, back_;
  double lon_ = 0, lat_ = 0;
};

// The last part of a collection, no longer the collection's.
OGRGeometry* TakePart(OGRGeometryCollection& parts) {
  const int last = parts.getNumGeometries() - 1;
  OGRGeometry* part = parts.getGeometryRef(last);
  parts.removeGeometry(last, FALSE);
  return part;
}

class PieceWidener {
 public:
  explicit PieceWidener(double metres) : metres_(metres) {}

  // A piece in degrees widened by the buffer and extra metres, its parts added to the pieces.
  void Add(OGRGeometry& piece, double extra) {
    piece.segmentize(kLongestDegreeEdge);
    projection_.CentreOn(piece);
    projection_.There(piece);
    std::unique_ptr<OGRGeometry> wide(piece.Buffer(metres_ + extra, 8));
    if (!wide) throw ShapeError("The shape cannot be widened: " + std::string(CPLGetLastErrorMsg()));
    wide->segmentize(kLongestMetreEdge);
    projection_.Back(*wide);
    if (auto* parts = dynamic_cast<OGRMultiPolygon*>(wide.get())) {
      while (parts->getNumGeometries() > 0) pieces_.addGeometryDirectly(TakePart(*parts));
    } else if (!wide->IsEmpty()) {
      pieces_.addGeometryDirectly(wide.release());
    }
  }

  std::unique_ptr<OGRGeometry> Joined() {
    if (pieces_.getNumGeometries() == 1) return std::unique_ptr<OGRGeometry>(TakePart(pieces_));
    std::unique_ptr<OGRGeometry> all(pieces_.UnionCascaded());
    if (!all) throw ShapeError("The widened shape cannot be joined: " + std::string(CPLGetLastErrorMsg()));
    return all;
  }

 private:
  const double metres_;
  LocalMetres projection_;
  OGRMultiPolygon pieces_;
};

// A stretch of a line simplified by a tolerance in metres: in a plane scaled from degrees so that
// no distance in it is shorter than on the ground (a degree is at most kMetresPerDegree long, one
// of longitude shortest far from the equator), so that no vertex is farther than the tolerance, and
// a hair, from the result. No projection of a million vertices is needed.
std::unique_ptr<OGRLineString> Simplified(const OGRLineString& line, int first, int last, double tolerance) {
  OGRLineString stretch;
  stretch.setNumPoints(last - first + 1, FALSE);
  double nearestToEquator = 90;
  for (int i = first; i <= last; ++i) nearestToEquator = std::min(nearestToEquator, std::abs(line.getY(i)));
  const double xScale = kMetresPerDegree * std::cos(nearestToEquator * M_PI / 180);
  for (int i = first; i <= last; ++i)
    stretch.setPoint(i - first, line.getX(i) * xScale, line.getY(i) * kMetresPerDegree);
  std::unique_ptr<OGRGeometry> simple(stretch.Simplify(tolerance));
  auto* result = dynamic_cast<OGRLineString*>(simple.get());
  if (!result) throw ShapeError("A line of the shape cannot be simplified: " + std::string(CPLGetLastErrorMsg()));
  for (int i = 0; i < result->getNumPoints(); ++i) {
    result->setPoint(i, result->getX(i) / xScale, result->getY(i) / kMetresPerDegree);
  }
  simple.release();
  return std::unique_ptr<OGRLineString>(result);
}

// Consecutive stretches of at most kPieceVertices vertices near the first, each beginning where
// the last ended, simplified and widened by the tolerance more.
void AddLine(const OGRLineString& line, PieceWidener& widener, double tolerance) {
  const int count = line.getNumPoints();
  for (int first = 0; first < count - 1;) {
    int last = first + 1;
    while (last + 1 < count && last - first + 1 < kPieceVertices &&
           Near(line.getX(first), line.getY(first), line.getX(last + 1), line.getY(last + 1))) {
      ++last;
    }
    const std::unique_ptr<OGRLineString> simple = Simplified(line, first, last, tolerance);
    // A stretch that kept every vertex is widened exactly.
    widener.Add(*simple, simple->getNumPoints() == last - first + 1 ? 0 : tolerance * kToleranceSlack);
    first = last;
  }
}

// Groups of at most kPieceVertices points near the first of each.
void AddPoints(const OGRMultiPoint& points, PieceWidener& widener) {
  const int count = points.getNumGeometries();
  for (int first = 0; first < count;) {
    const OGRPoint& start = *points.getGeometryRef(first);
    OGRMultiPoint piece;
    int next = first;
    for (; next < count && next - first < kPieceVertices; ++next) {
      const OGRPoint& point = *points.getGeometryRef(next);
      if (!Near(start.getX(), start.getY(), point.getX(), point.getY())) break;
      piece.addGeometry(&point);
    }
    widener.Add(piece, 0);
    first = next;
  }
}

}  // namespace

std::unique_ptr<OGRGeometry> Widened(const OGRMultiLineString& lines, const OGRMultiPoint& points, double metres) {
  PieceWidener widener(metres);
  for (const OGRLineString* line : lines) AddLine(*line, widener, metres * kSimplifiedShare);
  AddPoints(points, widener);
  return widener.Joined();
}
