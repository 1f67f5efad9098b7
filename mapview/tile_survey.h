// Finding out what a project's tile folder holds: which tiles are stored, which of them are the
// blank tile, and which tiles the failed-tile list names.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/project_area.h"
#include "mapview/tile_states.h"

namespace mapview {

CellRect AreaCells(const ProjectArea& area);

struct TileFile {
  int64_t x = 0, y = 0;
  FileState state = FileState::kPresent;  // present or blank
};

// The tile a file name in the project's folder stands for, if it is one of the area's.
std::optional<TileXY> TileOfFileName(const ProjectArea& area, const std::string& fileName);

// Whether the file at path holds exactly blankBytes (the size is compared first).
bool IsBlankTile(const std::string& path, const std::string& blankBytes);
// The state of one tile's file now: present, blank or missing.
FileState FileStateOf(const std::string& path, const std::string& blankBytes);

// Lists the tile folder once and hands the area's tiles found in it to report, a few thousand at
// a time. Stops early, returning false, when stop becomes true. A folder that does not exist
// holds no tiles.
bool SurveyTileFolder(const ProjectArea& area, const std::string& blankBytes, const std::atomic<bool>& stop,
                      const std::function<void(std::vector<TileFile>&&)>& report);

// The area's tiles that a list of "path|url" lines names (none when there is no list).
std::vector<TileXY> ReadListedTiles(const ProjectArea& area, const std::string& listFile);
// The area's tiles that the failed-tile list names.
std::vector<TileXY> ReadFailedTiles(const ProjectArea& area);
// NAME_verify.ftl beside the project: the tiles a verify found damaged, not images, or missing.
std::string VerifyListOf(const ProjectArea& area);

// A failed-tile list for the given tiles ("path|url" lines, CR LF), to fetch them again.
std::string FetchListFor(const ProjectArea& area, const std::string& tileServer, const std::vector<TileXY>& tiles);

}  // namespace mapview
