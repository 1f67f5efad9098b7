// Task areas read with GDAL/OGR for the front ends: from the file a user chose, and back from a
// project's or set's area file. The cover is always built from the GeoJSON text kept beside the
// project, so a task continued later covers exactly the tiles it covered when it began.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/area_cover.h"
#include "engine/task_area.h"

class AreaShape;

// Reads and widens the shape; throws ShapeError with the reason shown to the user.
std::shared_ptr<const TaskArea> TaskAreaFromFile(const std::string& path, double bufferMetres);
// The area named in a project or set file; nullptr for a rectangle's task. Throws ShapeError when
// the area file is gone or cannot be read.
std::shared_ptr<const TaskArea> TaskAreaOfProject(const std::string& projectOrSetFile);
// The shape of a TaskArea's GeoJSON text, for drawing it.
AreaShape ShapeOfArea(const TaskArea& area);
// The shape's bounding box as the rectangle fields take it, rounded outwards to a millionth of a
// degree so that the rectangle holds every tile of the shape.
struct AreaFieldTexts {
  std::string left, right, top, bottom;
};
AreaFieldTexts FieldTextsOf(const TaskArea& area);

// The tiles of a project's area inside the project's tile range (its [XY] section) at its zoom;
// nothing for a rectangle's task. Throws ShapeError as TaskAreaOfProject does, and with
// ChangedAreaText's reason when the area file is not the one the task was made with.
std::optional<AreaCover> ProjectAreaCover(const std::string& projectFile);
