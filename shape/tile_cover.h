// The tiles a shape touches at one zoom, as row intervals per column (AreaCover), so memory
// grows with the outline and not with the bounding box.
#pragma once

#include "engine/area_cover.h"

class AreaShape;

// The tiles at the zoom that the shape's areas share area with (a tile an area only touches along
// an edge or at a corner is left out), and those whose square (edges included) its lines and
// points meet.
AreaCover CoverOf(const AreaShape& shape, int zoom);
