// A level set: one area over the zoom levels first..last, one ordinary task per level
// (NAME_z09.qmtp, NAME_z10.qmtp, ...) run from the coarsest, and the set file NAME.qmset that
// names the levels, the field texts, the folder and the levels already finished.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "engine/area_input.h"
#include "engine/project_area.h"
#include "engine/task_area.h"

struct ZoomRange {
  int32_t first = 0;
  int32_t last = 0;
  int32_t LevelCount() const { return last - first + 1; }
};

// Whether the zoom text names a range "Z1-Z2" rather than one zoom level ("13", "-1").
bool IsZoomRangeText(const std::string& text);
// The range of a range text, or why it is refused: not two numbers, the last below the first,
// a level outside the grid (the task's own text). "9-9" is the one level 9.
std::variant<ZoomRange, std::string> ParseZoomRange(const std::string& text);

// A coordinate field text as a task file stores it ("-74.0" as "-74"); a text that is not a
// number stays as it is.
std::string StoredCoordinateText(const std::string& typed);

// "NAME_z09.qmtp" for the task name "NAME.qmtp" (or "NAME") at zoom 9; "NAME.qmset".
std::string LevelTaskName(const std::string& taskName, int32_t zoom);
std::string LevelSetFileName(const std::string& taskName);

struct LevelSet {
  std::string LeftLongitude;  // the field texts as typed
  std::string RightLongitude;
  std::string TopLatitude;
  std::string BottomLatitude;
  std::string Folder;    // as typed when the set was made
  std::string TaskName;  // "NAME.qmtp"
  ZoomRange zooms;
  std::set<int32_t> finished;  // levels whose download ended complete
  std::optional<int32_t> unnamedLevel;  // the first level of the range the set file does not name
  // Every level covers only this area; null for the rectangle. A loaded set holds the text of its
  // area file (empty when it cannot be read) and no way to cover it.
  std::shared_ptr<const TaskArea> area{};
  // What a hand edit left wrong in the file's keys (SetKeysProblem); nothing for a sound file.
  std::optional<std::string> keysProblem{};

  // Same area, levels and name: a Start with these continues the set.
  bool SameSetAs(const LevelSet& other) const;
};

// The set file's text: INI with CR LF line ends.
std::string LevelSetText(const LevelSet& set);
// Replaces the set file atomically, after writing the area file of a set with an area;
// qm::FileError when it cannot.
void WriteLevelSet(const std::string& path, const LevelSet& set);
// The same for a level that has just finished, without waiting for the disk: the level's own
// files already say that it is complete, so a record lost with the machine's power costs only a
// visit of that level, which asks nothing.
void RecordFinishedLevel(const std::string& path, const LevelSet& set);

// The set file as it reads, unchecked (a missing file gives an empty set).
LevelSet LoadLevelSet(const std::string& path);
// Why a loaded set cannot be continued, checked against the level task files beside its file:
// every level of the range is named, a finished level still has its task file, and every level
// task file present belongs to the set's area and zoom. Nothing when it can.
std::optional<std::string> LevelSetProblem(const LevelSet& set, const std::string& path);
// LoadLevelSet with LevelSetProblem's reason instead of a set that cannot be continued.
std::variant<LevelSet, std::string> ReadLevelSet(const std::string& path);

// What a level's task file will hold once its download starts, from the set's field texts: the
// tile range at zoom, and the folder and files beside the set file. Throws ProjectAreaError when
// the texts describe no area.
ProjectArea PlannedLevelArea(const LevelSet& set, const std::string& setFile, int32_t zoom);

// The project files a file stands for: a .qmtp itself, a .qmset the task files of its levels that
// have begun, coarsest first. The reason instead when the set is refused or no level has begun.
std::variant<std::vector<std::string>, std::string> ProjectFilesOf(const std::string& file);

// The estimate of every level of the range for the field texts, coarsest first, or the reason the
// fields do not describe an area.
struct LevelEstimates {
  std::vector<AreaEstimate> levels;
  std::string reason;
};
// With an area, each level counts the area's tiles.
LevelEstimates EstimateLevels(const std::string& left, const std::string& right, const std::string& top,
                              const std::string& bottom, ZoomRange zooms, const TaskArea* area = nullptr);
// "4 levels: 1,234 tiles · 00:02:34 at 8 tiles/s · tile lists 107.3 MB"
std::string LevelsTotalText(const std::vector<AreaEstimate>& levels);
