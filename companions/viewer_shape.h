// The shaped area of a project shown in the viewer: the tiles inside it and its outline.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/area_cover.h"
#include "mapview/level_view.h"
#include "mapview/view_geometry.h"

struct ViewerShape {
  AreaCover cover;                           // the tiles inside, within the level's range
  std::vector<mapview::PointRing> outline;  // longitudes and latitudes
};

// The area that the level's project names, or, for a level of a set whose download has not
// started, the one the set file names; nothing for a rectangle's task. Throws ShapeError when
// the area file is gone or cannot be read, or is not the one the level was made with.
std::optional<ViewerShape> ShapeOfLevel(const mapview::SetLevel& level, const std::string& openedFile);
