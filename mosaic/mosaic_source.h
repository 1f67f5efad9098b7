// What a mosaic is made of: a downloaded project's tile range, zoom and tile folder, and the
// Web Mercator placement of that range.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/area_cover.h"
#include "engine/project_area.h"

using MosaicError = ProjectAreaError;

// The range's edges in degrees: west, south, east, north.
struct DegreeBounds {
  double west = 0, south = 0, east = 0, north = 0;
};

// A mosaic is made of a downloaded project's area: its tile range and, when the task followed a
// shape, the tiles of that shape, the only ones it downloaded.
struct MosaicSource : ProjectArea {
  std::shared_ptr<const AreaCover> shape;  // nothing for a rectangle's task
  std::string projectFile;  // the task file; not there yet for a level of a set that has not started
  std::string setFile;      // the level set's file, for a level of a set
  // The rectangle the task was asked for (a shape's bounding box), when its file says it.
  std::optional<DegreeBounds> requested;
  bool Inside(int32_t x, int32_t y) const { return !shape || shape->Contains(x, y); }
};
// Throws MosaicError when the project or its area file cannot be read.
MosaicSource ReadMosaicSource(const std::string& projectFile);

// The levels of a map, coarsest first.
using MosaicLevels = std::vector<MosaicSource>;
// A project file (.qmtp) gives its one level; a level set (.qmset) every level of its range, those
// whose download has not started with the area they will have and no tile. Throws MosaicError
// when the set is refused or has no level yet.
MosaicLevels ReadMosaicLevels(const std::string& file);

// Web Mercator (EPSG:3857) placement: the west and north edges in metres and the pixel size.
struct MercatorPlacement {
  double west = 0;
  double north = 0;
  double pixelSize = 0;  // metres per pixel, the same across and down
};
MercatorPlacement PlacementOf(const MosaicSource& source);

DegreeBounds BoundsOf(const MosaicSource& source);
// Web Mercator metres of a longitude and a latitude.
double MercatorXOf(double longitude);
double MercatorYOf(double latitude);
