// Reading a project for a mosaic, and placing its range in Web Mercator metres.
#include "mosaic/mosaic_source.h"

#include <algorithm>
#include <cmath>
#include <variant>

#include "engine/Commonfunc.h"
#include "engine/area_input.h"
#include "engine/Unitclasstask.h"
#include "engine/level_set.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "shape/area_shape.h"
#include "shape/task_area_shape.h"

namespace {

constexpr double kEarthRadius = 6378137.0;
constexpr double kPi = 3.141592653589793;
constexpr int kTilePixels = 256;

double MercatorX(double lon) { return kEarthRadius * lon * kPi / 180.0; }
double MercatorY(double lat) { return kEarthRadius * std::log(std::tan(kPi / 4 + lat * kPi / 360.0)); }

// The rectangle of four edge texts; nothing when one is not a number.
std::optional<DegreeBounds> RequestedRectangle(const std::string& left, const std::string& right,
                                               const std::string& top, const std::string& bottom) {
  const auto l = CoordinateFromText(left), r = CoordinateFromText(right);
  const auto t = CoordinateFromText(top), b = CoordinateFromText(bottom);
  if (!l || !r || !t || !b) return std::nullopt;
  return DegreeBounds{std::min(*l, *r), std::min(*t, *b), std::max(*l, *r), std::max(*t, *b)};
}

}  // namespace

double MercatorXOf(double longitude) { return MercatorX(longitude); }
double MercatorYOf(double latitude) { return MercatorY(latitude); }

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

MosaicSource ReadMosaicSource(const std::string& projectFile) {
  MosaicSource source{ReadProjectArea(projectFile), nullptr, projectFile, {}, std::nullopt};
  const qm::IniFile project(projectFile);
  const auto edge = [&project](const char* key) { return project.ReadString("AREA", key, ""); };
  source.requested = RequestedRectangle(edge("LeftLongitude"), edge("RightLongitude"), edge("TopLatitude"),
                                        edge("BottomLatitude"));
  try {
    if (std::optional<AreaCover> cover = ProjectAreaCover(projectFile)) {
      source.shape = std::make_shared<const AreaCover>(std::move(*cover));
    }
  } catch (const ShapeError& e) {
    throw MosaicError(e.what());
  }
  return source;
}

namespace {

// A level whose download has not started: the area its task will have, the set's shape over it.
MosaicSource PlannedSource(const LevelSet& set, const std::string& setFile, int32_t zoom) {
  const ProjectArea area = PlannedLevelArea(set, setFile, zoom);
  MosaicSource source{area, nullptr, qm::ExtractFilePath(setFile) + LevelTaskName(set.TaskName, zoom), setFile,
                      RequestedRectangle(set.LeftLongitude, set.RightLongitude, set.TopLatitude, set.BottomLatitude)};
  try {
    if (const std::shared_ptr<const TaskArea> shape = TaskAreaOfProject(setFile)) {
      source.shape = std::make_shared<const AreaCover>(
          shape->coverAt(zoom).ClippedTo({area.minX, area.minY, area.maxX, area.maxY}));
    }
  } catch (const ShapeError& e) {
    throw MosaicError(e.what());
  } catch (const TaskError& e) {
    throw MosaicError(e.what());
  }
  return source;
}

}  // namespace

MosaicLevels ReadMosaicLevels(const std::string& file) {
  const auto projects = ProjectFilesOf(file);
  if (const auto* reason = std::get_if<std::string>(&projects)) throw MosaicError(*reason);
  if (!file.ends_with(".qmset")) return {ReadMosaicSource(file)};
  // A level not begun has no tiles: it is there all the same, so its tiles count as missing.
  const LevelSet set = LoadLevelSet(file);
  MosaicLevels levels;
  for (int32_t zoom = set.zooms.first; zoom <= set.zooms.last; ++zoom) {
    const std::string project = qm::ExtractFilePath(file) + LevelTaskName(set.TaskName, zoom);
    levels.push_back(qm::FileExists(project) ? ReadMosaicSource(project) : PlannedSource(set, file, zoom));
    levels.back().setFile = file;
  }
  return levels;
}
