// The levels of a level set in the map view: where each level's tiles are (also for a level whose
// download has not started), and which level a view shows: the finest, up to the detail the
// view's scale calls for, that holds the tiles in view.
#pragma once

#include <string>
#include <vector>

#include "engine/level_set.h"
#include "engine/project_area.h"
#include "mapview/tile_states.h"
#include "mapview/view_geometry.h"

namespace mapview {

struct SetLevel {
  std::string projectFile;  // the level's task file beside the set file; absent until it starts
  ProjectArea area;
};

// The set's levels, coarsest first. A started level's area is read from its task file, the
// others' from the set's field texts; throws ProjectAreaError when a task file holds no area.
std::vector<SetLevel> SetLevels(const LevelSet& set, const std::string& setFile);

// The same place and scale seen in the tile grid of another zoom.
Viewport ViewAtZoom(const Viewport& view, int fromZoom, int toZoom);
// The zoom whose tiles the view would show nearest to their own size.
int NaturalZoom(const Viewport& view, int zoom);
// The tiles of area under the view.
CellRect TilesInView(const Viewport& view, const CellRect& area);
// The share of the tiles that are, or may yet prove to be, stored: a tile not surveyed yet
// counts, so a finished level is shown at once rather than after its survey, and so does one
// outside a shaped area, which no download asks for. A level too large
// to survey (no states) counts as whole; no tiles in view count as none.
double StoredShare(const TileStateGrid* states, const CellRect& tiles);

struct LevelCoverage {
  int zoom = 0;
  double share = 0;  // StoredShare of the tiles in view
};
// The index of the level to show: the most of its tiles in view stored, the finer on a tie.
size_t BestLevel(const std::vector<LevelCoverage>& levels);

}  // namespace mapview
