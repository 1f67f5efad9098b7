// Reading a project for a mosaic, and placing its range in Web Mercator metres.
#include "mosaic/mosaic_source.h"

#include <cmath>

#include "engine/Commonfunc.h"
#include "engine/Unitclasstask.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"

namespace {

constexpr double kEarthRadius = 6378137.0;
constexpr double kPi = 3.141592653589793;
constexpr int kTilePixels = 256;

double MercatorX(double lon) { return kEarthRadius * lon * kPi / 180.0; }
double MercatorY(double lat) { return kEarthRadius * std::log(std::tan(kPi / 4 + lat * kPi / 360.0)); }

}  // namespace

std::string MosaicSource::TilePath(int32_t x, int32_t y) const {
  return tileFolder + SatelliteTileFileName(zoom, x, y);
}

MosaicSource ReadMosaicSource(const std::string& projectFile) {
  if (!qm::FileExists(projectFile)) throw MosaicError("Cannot open file " + projectFile);
  const qm::IniFile project(projectFile);
  MosaicSource s;
  s.zoom = project.ReadInteger("Zoom", "Zoom", -1);
  s.minX = project.ReadInteger("XY", "MinX", -1);
  s.minY = project.ReadInteger("XY", "MinY", -1);
  s.maxX = project.ReadInteger("XY", "MaxX", -1);
  s.maxY = project.ReadInteger("XY", "MaxY", -1);
  const int64_t side = IsGridZoom(s.zoom) ? int64_t{1} << s.zoom : 0;
  const auto inGrid = [side](int32_t v) { return v >= 0 && v < side; };
  if (!inGrid(s.minX) || !inGrid(s.maxX) || !inGrid(s.minY) || !inGrid(s.maxY) || s.minX > s.maxX ||
      s.minY > s.maxY) {
    throw MosaicError(projectFile + " holds no tile range of a download (sections [Zoom] and [XY]).");
  }
  const std::string fileName = qm::ExtractFileName(projectFile);
  s.name = TaskStem(fileName);
  s.tileFolder = qm::ExtractFilePath(projectFile) + s.name + qm::kPathSeparator;
  return s;
}

MercatorPlacement PlacementOf(const MosaicSource& s) {
  const auto zoom = static_cast<uint8_t>(s.zoom);
  const double worldPixels = kTilePixels * std::ldexp(1.0, s.zoom);
  return {MercatorX(TileXToLon(s.minX, zoom)), MercatorY(TileYToLat(s.minY, zoom)),
          2 * kPi * kEarthRadius / worldPixels};
}

DegreeBounds BoundsOf(const MosaicSource& s) {
  const auto zoom = static_cast<uint8_t>(s.zoom);
  return {TileXToLon(s.minX, zoom), TileYToLat(static_cast<double>(s.maxY) + 1, zoom),
          TileXToLon(static_cast<double>(s.maxX) + 1, zoom), TileYToLat(s.minY, zoom)};
}
