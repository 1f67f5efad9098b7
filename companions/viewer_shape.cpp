// Reading a level's area with the shape library.
#include "companions/viewer_shape.h"

#include "engine/task_area.h"
#include "platform/file_ops.h"
#include "shape/area_shape.h"
#include "shape/task_area_shape.h"

std::optional<ViewerShape> ShapeOfLevel(const mapview::SetLevel& level, const std::string& openedFile) {
  const bool started = qm::FileExists(level.projectFile);
  const std::shared_ptr<const TaskArea> area = TaskAreaOfProject(started ? level.projectFile : openedFile);
  if (!area) return std::nullopt;
  const ProjectArea& range = level.area;
  ViewerShape shape;
  shape.cover = area->coverAt(range.zoom).ClippedTo({range.minX, range.minY, range.maxX, range.maxY});
  if (started) {
    if (const auto changed = ChangedAreaText(level.projectFile, area->geoJson, shape.cover.Tiles())) {
      throw ShapeError(*changed);
    }
  }
  shape.outline = ShapeOfArea(*area).Rings();
  return shape;
}
