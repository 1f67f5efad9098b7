// Writing points, lines, polygons and their collections as GeoJSON.
#include "shape/geojson_text.h"

#include <ogr_geometry.h>

#include <charconv>
#include <stdexcept>

namespace {

void AddNumber(std::string& out, double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

void AddPoint(std::string& out, double x, double y) {
  out += '[';
  AddNumber(out, x);
  out += ',';
  AddNumber(out, y);
  out += ']';
}

void AddCurve(std::string& out, const OGRSimpleCurve& curve) {
  out += '[';
  for (int i = 0; i < curve.getNumPoints(); ++i) {
    if (i > 0) out += ',';
    AddPoint(out, curve.getX(i), curve.getY(i));
  }
  out += ']';
}

void AddRings(std::string& out, const OGRPolygon& polygon) {
  out += '[';
  bool first = true;
  for (const OGRLinearRing* ring : polygon) {
    if (!first) out += ',';
    first = false;
    AddCurve(out, *ring);
  }
  out += ']';
}

// The coordinates of a simple geometry, or of each part of a multi-geometry.
void AddCoordinates(std::string& out, const OGRGeometry& g) {
  if (const auto* point = dynamic_cast<const OGRPoint*>(&g)) {
    AddPoint(out, point->getX(), point->getY());
  } else if (const auto* polygon = dynamic_cast<const OGRPolygon*>(&g)) {
    AddRings(out, *polygon);
  } else if (const auto* curve = dynamic_cast<const OGRSimpleCurve*>(&g)) {
    AddCurve(out, *curve);
  } else if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&g)) {
    out += '[';
    for (int i = 0; i < parts->getNumGeometries(); ++i) {
      if (i > 0) out += ',';
      AddCoordinates(out, *parts->getGeometryRef(i));
    }
    out += ']';
  } else {
    throw std::invalid_argument("a geometry GeoJSON cannot hold");
  }
}

const char* TypeName(OGRwkbGeometryType type) {
  switch (type) {
    case wkbPoint: return "Point";
    case wkbLineString: return "LineString";
    case wkbPolygon: return "Polygon";
    case wkbMultiPoint: return "MultiPoint";
    case wkbMultiLineString: return "MultiLineString";
    case wkbMultiPolygon: return "MultiPolygon";
    default: throw std::invalid_argument("a geometry GeoJSON cannot hold");
  }
}

void AddGeometry(std::string& out, const OGRGeometry& g) {
  const OGRwkbGeometryType type = wkbFlatten(g.getGeometryType());
  if (type == wkbGeometryCollection) {
    const auto& parts = dynamic_cast<const OGRGeometryCollection&>(g);
    out += R"({"type":"GeometryCollection","geometries":[)";
    for (int i = 0; i < parts.getNumGeometries(); ++i) {
      if (i > 0) out += ',';
      AddGeometry(out, *parts.getGeometryRef(i));
    }
    out += "]}";
    return;
  }
  out += R"({"type":")";
  out += TypeName(type);
  out += R"(","coordinates":)";
  AddCoordinates(out, g);
  out += '}';
}

}  // namespace

std::string GeoJsonText(const OGRGeometry& geometry) {
  std::string out;
  AddGeometry(out, geometry);
  return out;
}
