// The area of a download read from a vector file: polygons as they are, lines and points widened
// by a buffer in metres on the ground, all in degrees (EPSG:4326, longitude first).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class OGRGeometry;

class ShapeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DegreeBox {
  double west = 0, south = 0, east = 0, north = 0;
};

class AreaShape {
 public:
  // Every feature of every layer of a local vector file (VectorFile: the formats of kAreaFormats),
  // in any CRS it can transform to degrees; curves become straight segments, edges are straight in
  // the file's own CRS, outlines that cross themselves are repaired, lines and points are widened
  // (Widened). Throws ShapeError for a file it cannot read, one without points, lines or areas,
  // coordinates that are not finite or not degrees, a buffer below 0 or above kMaxBufferMetres (or
  // below kMinBufferMetres where lines or points need it), and a shape beyond 85 degrees of latitude
  // or 180 of longitude.
  static AreaShape Read(const std::string& path, double bufferMetres = 0);
  // The shape of a GeoJSON text in degrees, as written by GeoJson(); no buffer.
  static AreaShape FromGeoJson(const std::string& text);
  AreaShape(AreaShape&&) noexcept;
  AreaShape& operator=(AreaShape&&) noexcept;
  ~AreaShape();

  DegreeBox Bounds() const;
  // Whether the file held lines or points, which the buffer widens (polygons are taken as they are).
  bool HasLinesOrPoints() const { return linesOrPoints_; }
  // As GeoJSON (EPSG:4326), for the copy kept beside a project.
  std::string GeoJson() const;
  const OGRGeometry& Geometry() const { return *geometry_; }
  // Every ring of every polygon (outer rings and holes) and every line that no buffer widened,
  // as longitude, latitude points, for drawing the outline.
  using Ring = std::vector<std::pair<double, double>>;
  std::vector<Ring> Rings() const;

 private:
  explicit AreaShape(std::unique_ptr<OGRGeometry> geometry);
  std::unique_ptr<OGRGeometry> geometry_;
  bool linesOrPoints_ = false;
};

// The widest buffer taken: 100 km on either side of a line already makes a region.
inline constexpr double kMaxBufferMetres = 100000;
// The narrowest buffer that widens lines and points: below a millimetre a buffer leaves nothing.
inline constexpr double kMinBufferMetres = 0.001;

// The northern and southern limit of a download area, as the main window accepts it.
inline constexpr double kShapeLatitudeLimit = 85;
