// Reading a download area from a vector file over GDAL/OGR.
#include "shape/area_shape.h"

#include "shape/edge_densify.h"
#include "shape/geojson_text.h"
#include "shape/vector_file_open.h"
#include "shape/widening.h"

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <cpl_error.h>

#include <cmath>
#include <cstdio>

namespace {

OGRSpatialReference Degrees() {
  OGRSpatialReference srs;
  srs.importFromEPSG(4326);
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

// A GPX file repeats every vertex of its tracks and routes as points of layers of their own.
bool RepeatsOtherLayers(const OGRLayer& layer) {
  const std::string name = const_cast<OGRLayer&>(layer).GetName();
  return name == "track_points" || name == "route_points";
}

// The file's shapes by kind, in degrees: areas, and lines and points that a buffer widens.
struct Collected {
  OGRMultiPolygon areas;
  OGRMultiLineString lines;
  OGRMultiPoint points;

  void Add(const OGRGeometry& g) {
    switch (wkbFlatten(g.getGeometryType())) {
      case wkbPolygon:
        AddPolygon(g);
        break;
      case wkbLineString:
        AddLine(dynamic_cast<const OGRLineString&>(g));
        break;
      case wkbPoint:
        points.addGeometry(&g);
        break;
      default:
        if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
          for (const OGRGeometry* part : *parts) Add(*part);
        }
        break;
    }
  }
  bool Empty() const { return areas.IsEmpty() && lines.IsEmpty() && points.IsEmpty(); }

 private:
  // A track of one point (or of one place repeated) is that point.
  void AddLine(const OGRLineString& line) {
    if (line.get_Length() > 0) {
      lines.addGeometry(&line);
    } else if (!line.IsEmpty()) {
      points.addGeometryDirectly(new OGRPoint(line.getX(0), line.getY(0)));
    }
  }

  // A hand-drawn outline that crosses itself, or one of too few points, is made valid: the parts
  // it encloses stay areas, what is left of a degenerate one is a line.
  void AddPolygon(const OGRGeometry& g) {
    if (g.IsValid()) {
      areas.addGeometry(&g);
      return;
    }
    std::unique_ptr<OGRGeometry> valid(g.MakeValid());
    if (!valid) throw ShapeError("An outline of the shape is not valid and cannot be repaired.");
    if (wkbFlatten(valid->getGeometryType()) == wkbPolygon) {
      areas.addGeometry(valid.get());
    } else {
      Add(*valid);
    }
  }
};

// Calls visit(x, y) for every vertex of g.
template <typename Visit>
void ForEachVertex(const OGRGeometry& g, Visit&& visit) {
  if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
    for (const OGRGeometry* part : *parts) ForEachVertex(*part, visit);
  } else if (const auto* polygon = dynamic_cast<const OGRPolygon*>(&g)) {
    for (const OGRLinearRing* ring : *polygon) ForEachVertex(*ring, visit);
  } else if (const auto* curve = dynamic_cast<const OGRSimpleCurve*>(&g)) {
    for (int i = 0; i < curve->getNumPoints(); ++i) visit(curve->getX(i), curve->getY(i));
  } else if (const auto* point = dynamic_cast<const OGRPoint*>(&g)) {
    visit(point->getX(), point->getY());
  }
}

std::string NumberText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string PointText(double x, double y) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g, %.10g", x, y);
  return text;
}

// Coordinates in degrees are finite and within the world; others were never degrees (metres of a
// file whose coordinate system is missing).
void CheckDegrees(const OGRGeometry& g, const std::string& where) {
  ForEachVertex(g, [&](double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) {
      throw ShapeError("A shape of " + where + " has a coordinate that is not a finite number (" + PointText(x, y) +
                       ").");
    }
    if (std::abs(x) > 180 || std::abs(y) > 90) {
      throw ShapeError("The coordinates of " + where + " are not degrees of longitude and latitude (" +
                       PointText(x, y) +
                       "): perhaps metres in a file without its coordinate system, as a Shapefile without its .prj.");
    }
  });
}

std::string Across180Text(const std::string& path) {
  return "The shape of " + path + " reaches beyond 180 degrees of longitude: split it into one file on each side of "
         "the 180th meridian.";
}

void CollectLayer(OGRLayer& layer, const std::string& path, const OGRSpatialReference& degrees, Collected& into) {
  const std::string where = "the layer " + std::string(layer.GetName()) + " of " + path;
  std::unique_ptr<OGRCoordinateTransformation> toDegrees;
  if (const OGRSpatialReference* source = layer.GetSpatialRef(); source && !source->IsSame(&degrees)) {
    OGRSpatialReference sourceOrder(*source);
    sourceOrder.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    toDegrees.reset(OGRCreateCoordinateTransformation(&sourceOrder, &degrees));
    if (!toDegrees) throw ShapeError("The layer " + std::string(layer.GetName()) + " has a CRS that cannot be turned into degrees.");
  }
  for (auto& feature : layer) {
    std::unique_ptr<OGRGeometry> g(feature->StealGeometry());
    if (!g || g->IsEmpty()) continue;
    g->flattenTo2D();
    // Arcs as short straight segments, round in the file's own coordinates.
    if (g->hasCurveGeometry()) g.reset(g->getLinearGeometry());
    const EdgeTransform turned = toDegrees ? TransformAlongEdges(*g, *toDegrees) : EdgeTransform::kDone;
    if (turned == EdgeTransform::kNotTransformed) {
      throw ShapeError("A shape of the layer " + std::string(layer.GetName()) + " cannot be turned into degrees.");
    }
    if (turned == EdgeTransform::kAcross180) throw ShapeError(Across180Text(path));
    CheckDegrees(*g, where);
    into.Add(*g);
  }
}

}  // namespace

AreaShape::AreaShape(std::unique_ptr<OGRGeometry> geometry) : geometry_(std::move(geometry)) {}
AreaShape::AreaShape(AreaShape&&) noexcept = default;
AreaShape& AreaShape::operator=(AreaShape&&) noexcept = default;
AreaShape::~AreaShape() = default;

AreaShape AreaShape::Read(const std::string& path, double bufferMetres) {
  if (!(bufferMetres >= 0)) throw ShapeError("The buffer should be zero or more metres.");
  if (bufferMetres > kMaxBufferMetres) throw ShapeError("The buffer should be at most 100,000 metres.");
  VectorFile file(path);
  const OGRSpatialReference degrees = Degrees();
  Collected shapes;
  for (OGRLayer* layer : file.Dataset().GetLayers()) {
    if (!RepeatsOtherLayers(*layer)) CollectLayer(*layer, path, degrees, shapes);
  }
  if (shapes.Empty()) throw ShapeError(path + " holds no points, lines or areas.");

  auto all = std::make_unique<OGRGeometryCollection>();
  if (!shapes.areas.IsEmpty()) all->addGeometry(&shapes.areas);
  if (!shapes.lines.IsEmpty() || !shapes.points.IsEmpty()) {
    if (bufferMetres > 0 && bufferMetres < kMinBufferMetres) {
      throw ShapeError("A buffer of " + NumberText(bufferMetres) +
                       " metres is too small to widen the lines and points of " + path +
                       ": give 0 to take them as they are, or at least 0.001 metres.");
    }
    if (bufferMetres > 0) {
      all->addGeometryDirectly(Widened(shapes.lines, shapes.points, bufferMetres).release());
    } else {
      if (!shapes.lines.IsEmpty()) all->addGeometry(&shapes.lines);
      if (!shapes.points.IsEmpty()) all->addGeometry(&shapes.points);
    }
  }
  AreaShape shape(std::move(all));
  shape.linesOrPoints_ = !shapes.lines.IsEmpty() || !shapes.points.IsEmpty();
  const DegreeBox box = shape.Bounds();
  if (box.north > kShapeLatitudeLimit || box.south < -kShapeLatitudeLimit) {
    throw ShapeError("The shape of " + path + " reaches beyond 85 degrees of latitude, where no tile is downloaded.");
  }
  if (box.west < -180 || box.east > 180) {
    throw ShapeError(Across180Text(path));
  }
  return shape;
}

AreaShape AreaShape::FromGeoJson(const std::string& text) {
  CPLErrorReset();
  std::unique_ptr<OGRGeometry> g(OGRGeometryFactory::createFromGeoJson(text.c_str()));
  if (!g || g->IsEmpty()) {
    const std::string why = CPLGetLastErrorMsg();
    throw ShapeError("The area file holds no shape" + (why.empty() ? "." : ": " + why));
  }
  if (!dynamic_cast<const OGRGeometryCollection*>(g.get())) {
    auto all = std::make_unique<OGRGeometryCollection>();
    all->addGeometryDirectly(g.release());
    g = std::move(all);
  }
  return AreaShape(std::move(g));
}

namespace {

void AddRings(const OGRGeometry& g, std::vector<AreaShape::Ring>& rings) {
  if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
    for (const OGRGeometry* part : *parts) AddRings(*part, rings);
  } else if (const auto* polygon = dynamic_cast<const OGRPolygon*>(&g)) {
    for (const OGRLinearRing* ring : *polygon) AddRings(*ring, rings);
  } else if (const auto* line = dynamic_cast<const OGRSimpleCurve*>(&g)) {
    AreaShape::Ring ring;
    ring.reserve(static_cast<size_t>(line->getNumPoints()));
    for (const OGRPoint& point : *line) ring.emplace_back(point.getX(), point.getY());
    rings.push_back(std::move(ring));
  }
}

}  // namespace

std::vector<AreaShape::Ring> AreaShape::Rings() const {
  std::vector<Ring> rings;
  AddRings(*geometry_, rings);
  return rings;
}

DegreeBox AreaShape::Bounds() const {
  OGREnvelope box;
  geometry_->getEnvelope(&box);
  return {box.MinX, box.MinY, box.MaxX, box.MaxY};
}

std::string AreaShape::GeoJson() const { return GeoJsonText(*geometry_); }
