// The tiles a shape touches at one zoom, as row intervals per column (AreaCover), so memory
// grows with the outline and not with the bounding box.
#pragma once

#include "engine/area_cover.h"

class AreaShape;

// Every tile whose square (edges included) meets the shape at the zoom.
AreaCover CoverOf(const AreaShape& shape, int zoom);
