// Task areas from vector files and from the area files kept beside projects.
#include "shape/task_area_shape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "engine/Unitclasstask.h"
#include "engine/project_area.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "shape/area_shape.h"
#include "shape/tile_cover.h"

namespace {

std::shared_ptr<TaskArea> AreaOf(std::shared_ptr<const AreaShape> shape, std::string geoJson, std::string source,
                                 double bufferMetres) {
  auto area = MakeTaskArea(std::move(geoJson), std::move(source), bufferMetres, [shape](int32_t zoom) {
    try {
      return CoverOf(*shape, zoom);
    } catch (const ShapeError& e) {
      throw TaskError(e.what());
    }
  });
  area->outline = [shape] { return shape->Rings(); };
  return area;
}

std::shared_ptr<const TaskArea> AreaOfText(std::string geoJson, std::string source, double bufferMetres) {
  auto shape = std::make_shared<const AreaShape>(AreaShape::FromGeoJson(geoJson));
  return AreaOf(std::move(shape), std::move(geoJson), std::move(source), bufferMetres);
}

}  // namespace

std::shared_ptr<const TaskArea> TaskAreaFromFile(const std::string& path, double bufferMetres) {
  // The text kept beside the project reads back as exactly this shape, so a continued task covers
  // the same tiles.
  auto shape = std::make_shared<const AreaShape>(AreaShape::Read(path, bufferMetres));
  std::string geoJson = shape->GeoJson();
  const bool widenable = shape->HasLinesOrPoints();
  auto area = AreaOf(std::move(shape), std::move(geoJson), path, bufferMetres);
  area->widenable = widenable;
  return area;
}

std::shared_ptr<const TaskArea> TaskAreaOfProject(const std::string& projectOrSetFile) {
  const std::optional<AreaRecord> record = ReadAreaRecord(projectOrSetFile);
  if (!record) return nullptr;
  std::optional<std::string> text = ReadAreaText(*record);
  if (!text) throw ShapeError("The area file " + record->file + " of " + projectOrSetFile + " is gone or cannot be read.");
  return AreaOfText(std::move(*text), record->source, record->bufferMetres);
}

AreaShape ShapeOfArea(const TaskArea& area) { return AreaShape::FromGeoJson(area.geoJson); }

std::optional<AreaCover> ProjectAreaCover(const std::string& projectFile) {
  const std::shared_ptr<const TaskArea> area = TaskAreaOfProject(projectFile);
  if (!area) return std::nullopt;
  try {
    const ProjectArea project = ReadProjectArea(projectFile);
    AreaCover cover = area->coverAt(project.zoom).ClippedTo({project.minX, project.minY, project.maxX, project.maxY});
    if (const auto changed = ChangedAreaText(projectFile, area->geoJson, cover.Tiles())) throw ShapeError(*changed);
    return cover;
  } catch (const ProjectAreaError& e) {
    throw ShapeError(e.what());
  } catch (const TaskError& e) {
    throw ShapeError(e.what());
  }
}

namespace {

std::string Degrees(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

}  // namespace

AreaFieldTexts FieldTextsOf(const TaskArea& area) {
  const DegreeBox box = ShapeOfArea(area).Bounds();
  constexpr double kMillionth = 1e6;
  return {Degrees(std::max(-180.0, std::floor(box.west * kMillionth) / kMillionth)),
          Degrees(std::min(180.0, std::ceil(box.east * kMillionth) / kMillionth)),
          Degrees(std::ceil(box.north * kMillionth) / kMillionth),
          Degrees(std::floor(box.south * kMillionth) / kMillionth)};
}
