// A download area given by a shape: what a task keeps of it and how the shape is named in a
// project or set file. Reading vector files is left to the front ends (the core has no GDAL):
// they hand the task a way to cover the shape at its zoom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/area_cover.h"
#include "engine/area_input.h"

// Longitude, latitude points of one ring of a polygon or of a line.
using AreaRing = std::vector<std::pair<double, double>>;

struct TaskArea {
  std::string geoJson;      // the shape in degrees (EPSG:4326), written beside the project
  std::string source;       // the file the user chose
  double bufferMetres = 0;  // how far lines and points of the source were widened
  bool widenable = false;   // the source holds lines or points, so another buffer gives another area
  // The tiles of the shape at a zoom; throws TaskError when they cannot be found.
  std::function<AreaCover(int32_t zoom)> coverAt;
  // The rings of its polygons and its lines, for drawing the shape; throws TaskError when they
  // cannot be read.
  std::function<std::vector<AreaRing>()> outline;
};

// A TaskArea with the given texts whose covers are made by make, each zoom's once (the estimate,
// the confirmation and the task all ask for the same level).
std::shared_ptr<TaskArea> MakeTaskArea(std::string geoJson, std::string source, double bufferMetres,
                                       std::function<AreaCover(int32_t zoom)> make);

// The section that names a task's or a set's area file. Not "[Area]": INI section names match
// without regard to case, and that name would be the rectangle's own section.
inline constexpr const char* kAreaSection = "AreaShape";

// An area file beyond this is not one this program wrote for a download area.
inline constexpr size_t kMaxAreaFileBytes = size_t{512} << 20;

// "NAME_area.geojson" for the task or set name NAME.qmtp / NAME.qmset.
std::string AreaFileName(const std::string& taskName);

// A fingerprint of an area's text (16 hexadecimal digits), kept in the project so that an area
// file changed later is noticed.
std::string AreaDigest(const std::string& geoJson);

// The area named in a project or set file.
struct AreaRecord {
  std::string file;          // the area file, as a full path beside the project
  std::string source;
  double bufferMetres = 0;
  int64_t tiles = -1;        // tiles of a task's area at its zoom; -1 in a set file
  std::string digest;        // AreaDigest of the area file as the task was made; may be empty
};
// Nothing when the file names no area (a rectangle's task).
std::optional<AreaRecord> ReadAreaRecord(const std::string& projectOrSetFile);
// The text of an area file; nothing when it is gone, cannot be read, or is not a regular file
// within kMaxAreaFileBytes.
std::optional<std::string> ReadAreaText(const AreaRecord& record);
// Why a vector file a user names cannot be read as an area, before any reader opens it: a GDAL
// virtual file system path (/vsicurl/ ...), a missing file, or anything but a regular file (a pipe
// would block the reader, a device never end); nothing when it can be read.
std::optional<std::string> AreaSourceProblem(const std::string& path);
// Whether the area file a project or set names holds exactly geoJson; both without an area
// (geoJson null) also agree.
bool SameAreaAs(const std::string& projectOrSetFile, const std::string* geoJson);

// Why the area file a project names no longer gives the task the project was made with: its text
// is not the one whose digest the project keeps, or its tiles within the project's range are not as
// many as the project counted. Nothing when it gives that task, or when the project names no area.
// Every program that takes a shaped project's tiles asks this, so one edited file never passes
// unnoticed in one of them.
std::optional<std::string> ChangedAreaText(const std::string& projectFile, const std::string& geoJson, int64_t tiles);

// The estimate of a rectangle narrowed to the area's tiles inside it. Throws TaskError as coverAt.
AreaEstimate EstimateInArea(AreaEstimate rectangle, const TaskArea& area, int32_t zoom);
// The rectangle is a window on the area: edges moved into the shape leave its tiles beyond them out
// of the task. When they do at any of the levels, "the area is cut by the edges: 33 of 54 tiles"
// (the tiles kept and the area's own, over the levels); nothing when every tile is kept.
std::optional<std::string> AreaCutText(const std::vector<AreaEstimate>& levels);
// The figures of the levels, said after the cut when there is one, so a status line shows it first.
std::string FiguresWithAreaCut(const std::vector<AreaEstimate>& levels, const std::string& figures);
