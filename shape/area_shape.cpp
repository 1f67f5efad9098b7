// Reading a download area from a vector file over GDAL/OGR.
#include "shape/area_shape.h"

#include "shape/geojson_text.h"

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <cpl_error.h>

#include <cmath>

namespace {

struct DatasetCloser {
  void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

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
        lines.addGeometry(&g);
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

// Whether a line or ring jumps more than half the world between two points: it crosses the 180th
// meridian, which no download rectangle can.
bool CrossesAntimeridian(const OGRGeometry& g) {
  if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
    for (const OGRGeometry* part : *parts) {
      if (CrossesAntimeridian(*part)) return true;
    }
  } else if (const auto* polygon = dynamic_cast<const OGRPolygon*>(&g)) {
    for (const OGRLinearRing* ring : *polygon) {
      if (CrossesAntimeridian(*ring)) return true;
    }
  } else if (const auto* curve = dynamic_cast<const OGRSimpleCurve*>(&g)) {
    for (int i = 1; i < curve->getNumPoints(); ++i) {
      if (std::abs(curve->getX(i) - curve->getX(i - 1)) > 180) return true;
    }
  }
  return false;
}

void CollectLayer(OGRLayer& layer, const OGRSpatialReference& degrees, Collected& into) {
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
    if (toDegrees && g->transform(toDegrees.get()) != OGRERR_NONE) {
      throw ShapeError("A shape of the layer " + std::string(layer.GetName()) + " cannot be turned into degrees.");
    }
    g->flattenTo2D();
    if (g->hasCurveGeometry()) g.reset(g->getLinearGeometry());  // arcs as short straight segments
    if (CrossesAntimeridian(*g)) {
      throw ShapeError("A shape of the layer " + std::string(layer.GetName()) +
                       " crosses the 180th meridian, which a download area cannot: split it into one file on "
                       "each side.");
    }
    into.Add(*g);
  }
}

// Widened by metres on the ground: buffered in an equidistant projection about the shape's centre.
std::unique_ptr<OGRGeometry> Widened(const OGRGeometry& g, double metres, const OGRSpatialReference& degrees) {
  OGREnvelope box;
  g.getEnvelope(&box);
  OGRSpatialReference local;
  local.SetWellKnownGeogCS("WGS84");
  local.SetAE((box.MinY + box.MaxY) / 2, (box.MinX + box.MaxX) / 2, 0, 0);
  local.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> there(OGRCreateCoordinateTransformation(&degrees, &local));
  std::unique_ptr<OGRCoordinateTransformation> back(OGRCreateCoordinateTransformation(&local, &degrees));
  std::unique_ptr<OGRGeometry> copy(g.clone());
  if (!there || !back || copy->transform(there.get()) != OGRERR_NONE) throw ShapeError("The shape cannot be widened.");
  std::unique_ptr<OGRGeometry> wide(copy->Buffer(metres, 8));
  if (!wide || wide->transform(back.get()) != OGRERR_NONE) throw ShapeError("The shape cannot be widened.");
  return wide;
}

}  // namespace

AreaShape::AreaShape(std::unique_ptr<OGRGeometry> geometry) : geometry_(std::move(geometry)) {}
AreaShape::AreaShape(AreaShape&&) noexcept = default;
AreaShape& AreaShape::operator=(AreaShape&&) noexcept = default;
AreaShape::~AreaShape() = default;

AreaShape AreaShape::Read(const std::string& path, double bufferMetres) {
  if (!(bufferMetres >= 0)) throw ShapeError("The buffer should be zero or more metres.");
  if (bufferMetres > kMaxBufferMetres) throw ShapeError("The buffer should be at most 100,000 metres.");
  GDALAllRegister();
  CPLErrorReset();
  VSIStatBufL stat;
  if (VSIStatL(path.c_str(), &stat) != 0) throw ShapeError("The file " + path + " does not exist.");
  std::unique_ptr<GDALDataset, DatasetCloser> file(
      GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
  if (!file) {
    const std::string why = CPLGetLastErrorMsg();
    throw ShapeError("Cannot read " + path + " as a vector file" + (why.empty() ? "." : ": " + why));
  }
  const OGRSpatialReference degrees = Degrees();
  Collected shapes;
  for (OGRLayer* layer : file->GetLayers()) {
    if (!RepeatsOtherLayers(*layer)) CollectLayer(*layer, degrees, shapes);
  }
  if (shapes.Empty()) throw ShapeError(path + " holds no points, lines or areas.");

  auto all = std::make_unique<OGRGeometryCollection>();
  if (!shapes.areas.IsEmpty()) all->addGeometry(&shapes.areas);
  for (const OGRGeometry* thin : {static_cast<const OGRGeometry*>(&shapes.lines), static_cast<const OGRGeometry*>(&shapes.points)}) {
    if (thin->IsEmpty()) continue;
    if (bufferMetres > 0) {
      all->addGeometryDirectly(Widened(*thin, bufferMetres, degrees).release());
    } else {
      all->addGeometry(thin);
    }
  }
  AreaShape shape(std::move(all));
  const DegreeBox box = shape.Bounds();
  if (box.north > kShapeLatitudeLimit || box.south < -kShapeLatitudeLimit) {
    throw ShapeError("The shape of " + path + " reaches beyond 85 degrees of latitude, where no tile is downloaded" +
                     " (or its coordinate system is missing: a Shapefile needs its .prj).");
  }
  if (box.west < -180 || box.east > 180) {
    throw ShapeError("The shape of " + path + " reaches beyond 180 degrees of longitude: split it into one file on "
                     "each side of the 180th meridian.");
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
