// Naming a task's area file and reading where a project or set file names it.
#include "engine/task_area.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "engine/Unitclasstask.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"

std::shared_ptr<TaskArea> MakeTaskArea(std::string geoJson, std::string source, double bufferMetres,
                                       std::function<AreaCover(int32_t zoom)> make) {
  auto area = std::make_shared<TaskArea>();
  area->geoJson = std::move(geoJson);
  area->source = std::move(source);
  area->bufferMetres = bufferMetres;
  auto made = std::make_shared<std::map<int32_t, AreaCover>>();
  auto lock = std::make_shared<std::mutex>();
  area->coverAt = [make = std::move(make), made, lock](int32_t zoom) {
    const std::lock_guard hold(*lock);
    if (const auto found = made->find(zoom); found != made->end()) return found->second;
    return made->emplace(zoom, make(zoom)).first->second;
  };
  return area;
}

std::string AreaFileName(const std::string& taskName) { return TaskStem(taskName) + "_area.geojson"; }

std::string AreaDigest(const std::string& geoJson) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const unsigned char c : geoJson) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::optional<AreaRecord> ReadAreaRecord(const std::string& projectOrSetFile) {
  if (!qm::FileExists(projectOrSetFile)) return std::nullopt;
  const qm::IniFile file(projectOrSetFile);
  const std::string name = file.ReadString(kAreaSection, "File", "");
  if (name.empty()) return std::nullopt;
  AreaRecord record;
  // Only a plain name beside the project: a project file from elsewhere does not choose what is read.
  record.file = qm::ExtractFilePath(projectOrSetFile) + qm::ExtractFileName(name);
  record.source = file.ReadString(kAreaSection, "Source", "");
  record.bufferMetres = std::strtod(file.ReadString(kAreaSection, "Buffer", "0").c_str(), nullptr);
  record.tiles = std::strtoll(file.ReadString(kAreaSection, "Tiles", "-1").c_str(), nullptr, 10);
  record.digest = file.ReadString(kAreaSection, "Digest", "");
  return record;
}

std::optional<std::string> ReadAreaText(const AreaRecord& record) {
  try {
    return qm::ReadRegularFileUpTo(record.file, kMaxAreaFileBytes);
  } catch (const qm::FileError&) {
    return std::nullopt;
  }
}

std::optional<std::string> AreaSourceProblem(const std::string& path) {
  if (path.rfind("/vsi", 0) == 0) {
    return path + " names a GDAL virtual file system: an area is read only from a local file.";
  }
  if (!qm::PathExists(path)) return "The file " + path + " does not exist.";
  if (!qm::IsRegularFile(path)) {
    return path + " is not a regular file: an area is read from a file of its own, not from a folder, a pipe or a device.";
  }
  return std::nullopt;
}

bool SameAreaAs(const std::string& projectOrSetFile, const std::string* geoJson) {
  const std::optional<AreaRecord> record = ReadAreaRecord(projectOrSetFile);
  if (!record || !geoJson) return !record && !geoJson;
  return ReadAreaText(*record) == *geoJson;
}

std::optional<std::string> ChangedAreaText(const std::string& projectFile, const std::string& geoJson, int64_t tiles) {
  const std::optional<AreaRecord> record = ReadAreaRecord(projectFile);
  if (!record) return std::nullopt;
  const bool same = (record->digest.empty() || record->digest == AreaDigest(geoJson)) &&
                    (record->tiles < 0 || record->tiles == tiles);
  if (same) return std::nullopt;
  return "The area file " + record->file + " was changed since the task " + projectFile +
         " was made: put the file back, or start the area anew under another task name.";
}

AreaEstimate EstimateInArea(AreaEstimate e, const TaskArea& area, int32_t zoom) {
  const TileRange range{static_cast<int32_t>(e.minX), static_cast<int32_t>(e.minY), static_cast<int32_t>(e.maxX),
                        static_cast<int32_t>(e.maxY)};
  const AreaCover whole = area.coverAt(zoom);
  const int64_t inside = whole.ClippedTo(range).Tiles();
  // Lines of the tile list differ little in length: the list shrinks with the count.
  if (e.tiles > 0) e.listBytes = static_cast<int64_t>(static_cast<double>(e.listBytes) * inside / e.tiles);
  e.secondsAtFullSpeed = e.tiles > 0 ? e.secondsAtFullSpeed * static_cast<double>(inside) / e.tiles : 0;
  e.tiles = inside;
  e.inArea = true;
  e.areaTiles = whole.Tiles();
  return e;
}

std::optional<std::string> AreaCutText(const std::vector<AreaEstimate>& levels) {
  int64_t inside = 0, whole = 0;
  for (const AreaEstimate& level : levels) {
    if (!level.inArea) continue;
    inside += level.tiles;
    whole += level.areaTiles;
  }
  if (inside >= whole) return std::nullopt;
  return "the area is cut by the edges: " + GroupedCount(inside) + " of " + GroupedCount(whole) + " tiles";
}

std::string FiguresWithAreaCut(const std::vector<AreaEstimate>& levels, const std::string& figures) {
  std::optional<std::string> cut = AreaCutText(levels);
  if (!cut) return figures;
  (*cut)[0] = 'T';
  return *cut + " · " + figures;
}
