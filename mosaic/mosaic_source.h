// What a mosaic is made of: a downloaded project's tile range, zoom and tile folder, and the
// Web Mercator placement of that range.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class MosaicError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MosaicSource {
  int zoom = 0;
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  std::string tileFolder;  // ends with the separator
  std::string name;        // the task's stem

  int64_t Columns() const { return int64_t{maxX} - minX + 1; }
  int64_t Rows() const { return int64_t{maxY} - minY + 1; }
  std::string TilePath(int32_t x, int32_t y) const;
};

// Reads the project file's range ([XY]), zoom and folder. Throws MosaicError with a message for
// the user when the file is missing or holds no usable range.
MosaicSource ReadMosaicSource(const std::string& projectFile);

// Web Mercator (EPSG:3857) placement: the west and north edges in metres and the pixel size.
struct MercatorPlacement {
  double west = 0;
  double north = 0;
  double pixelSize = 0;  // metres per pixel, the same across and down
};
MercatorPlacement PlacementOf(const MosaicSource& source);

// The range's edges in degrees: west, south, east, north.
struct DegreeBounds {
  double west = 0, south = 0, east = 0, north = 0;
};
DegreeBounds BoundsOf(const MosaicSource& source);
