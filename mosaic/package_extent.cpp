// What a package says of itself before its tiles: its zooms, its name, and the area a reader
// shows first, with the zoom that fits it in a view.
#include <algorithm>
#include <cmath>

#include "mosaic/package_tiles.h"
#include "platform/file_ops.h"

namespace {

// A usual map view, in pixels: the default view shows the whole area at the greatest zoom that
// fits it in this.
constexpr double kViewWidth = 1024, kViewHeight = 768;
constexpr double kWorldMetres = 2 * 3.141592653589793 * 6378137.0;

int StepsBelow(const MosaicSource& coarsest, const MosaicOptions& options) {
  return options.lowerZoom >= 0 && options.lowerZoom < coarsest.zoom ? coarsest.zoom - options.lowerZoom : 0;
}

DegreeBounds Intersection(const DegreeBounds& a, const DegreeBounds& b) {
  return {std::max(a.west, b.west), std::max(a.south, b.south), std::min(a.east, b.east), std::min(a.north, b.north)};
}

bool HasArea(const DegreeBounds& b) { return b.west < b.east && b.south < b.north; }

// The area asked for, clipped to what every level holds; every level's tiles together when the
// files do not say what was asked, or it lies outside them.
DegreeBounds ShownBounds(const MosaicLevels& levels) {
  DegreeBounds covered = BoundsOf(levels.front());
  for (const MosaicSource& level : levels) covered = Intersection(covered, BoundsOf(level));
  const std::optional<DegreeBounds>& requested = levels.back().requested;
  if (!requested) return covered;
  const DegreeBounds asked = Intersection(*requested, covered);
  return HasArea(asked) ? asked : covered;
}

int ZoomFitting(const DegreeBounds& b, int minZoom, int maxZoom) {
  const double width = MercatorXOf(b.east) - MercatorXOf(b.west);
  const double height = MercatorYOf(b.north) - MercatorYOf(b.south);
  int zoom = minZoom;
  while (zoom < maxZoom) {
    const double metresPerPixel = kWorldMetres / (256 * std::ldexp(1.0, zoom + 1));
    if (width / metresPerPixel > kViewWidth || height / metresPerPixel > kViewHeight) break;
    ++zoom;
  }
  return zoom;
}

}  // namespace

std::string PackageName(const MosaicLevels& levels) {
  const std::string& set = levels.front().setFile;
  if (set.empty()) return levels.front().name;
  const std::string file = qm::ExtractFileName(set);
  return file.substr(0, file.rfind('.'));
}

PackageExtent PackageExtentOf(const MosaicLevels& levels, const MosaicOptions& options) {
  PackageExtent extent;
  const int steps = StepsBelow(levels.front(), options);
  extent.minZoom = levels.front().zoom - steps;
  extent.maxZoom = levels.back().zoom;
  if (steps > 0) {
    extent.madeMinZoom = extent.minZoom;
    extent.madeMaxZoom = levels.front().zoom - 1;
  }
  extent.bounds = ShownBounds(levels);
  extent.centerLon = (extent.bounds.west + extent.bounds.east) / 2;
  // The middle in Web Mercator, as the map shows it.
  const double middleY = (MercatorYOf(extent.bounds.south) + MercatorYOf(extent.bounds.north)) / 2;
  extent.centerLat = std::atan(std::sinh(middleY / 6378137.0)) * 180 / 3.141592653589793;
  extent.centerZoom = ZoomFitting(extent.bounds, extent.minZoom, extent.maxZoom);
  extent.name = PackageName(levels);
  return extent;
}
