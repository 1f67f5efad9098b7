// Level names, the set file and its checks.
#include "engine/level_set.h"

#include <cstdio>

#include "engine/Unitclasstask.h"
#include "engine/area_input.h"
#include "engine/level_set_keys.h"
#include "engine/task_files.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

constexpr const char* kProjectExtension = ".qmtp";
constexpr const char* kSetExtension = ".qmset";

std::string Stem(const std::string& taskName) {
  return TaskExtension(taskName) == kProjectExtension ? TaskStem(taskName) : taskName;
}

std::string TwoDigits(int32_t zoom) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", static_cast<int>(zoom));
  return text;
}

std::string LevelKey(int32_t zoom) { return "Z" + TwoDigits(zoom); }

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Why the level's task file does not belong to the set, or nothing.
std::optional<std::string> LevelFileProblem(const LevelSet& set, const std::string& levelFile, int32_t zoom) {
  const qm::IniFile level(levelFile);
  const std::pair<const char*, const std::string*> fields[] = {{"LeftLongitude", &set.LeftLongitude},
                                                               {"RightLongitude", &set.RightLongitude},
                                                               {"TopLatitude", &set.TopLatitude},
                                                               {"BottomLatitude", &set.BottomLatitude}};
  bool sameArea = level.ReadInteger("Zoom", "Zoom", -1) == zoom;
  for (const auto& [key, typed] : fields) {
    sameArea = sameArea && StoredCoordinateText(*typed) == level.ReadString("AREA", key, "");
  }
  if (sameArea && SameAreaAs(levelFile, set.area ? &set.area->geoJson : nullptr)) return std::nullopt;
  return qm::ExtractFileName(levelFile) + " is a task of another area or zoom level";
}

std::optional<std::string> SetProblem(const LevelSet& set, const std::string& folder) {
  if (set.keysProblem) return set.keysProblem;
  const ZoomRange& z = set.zooms;
  if (!IsGridZoom(z.first) || !IsGridZoom(z.last) || z.first >= z.last) {
    return "its zoom levels " + std::to_string(z.first) + " to " + std::to_string(z.last) +
           " are not two levels of the tile grid, the first below the last";
  }
  if (set.TaskName.empty() || set.TaskName.find(qm::kPathSeparator) != std::string::npos) {
    return "its task name \"" + set.TaskName + "\" is not a plain file name";
  }
  for (const std::string* text : {&set.LeftLongitude, &set.RightLongitude, &set.TopLatitude, &set.BottomLatitude}) {
    if (!CoordinateFromText(*text)) return "the area's edge \"" + *text + "\" is not a number";
  }
  if (set.unnamedLevel) return "level " + std::to_string(*set.unnamedLevel) + " is missing";
  if (set.area && set.area->geoJson.empty()) return "its area file " + AreaFileName(set.TaskName) + " is missing";
  for (int32_t zoom = z.first; zoom <= z.last; ++zoom) {
    const std::string name = LevelTaskName(set.TaskName, zoom);
    const bool present = qm::FileExists(folder + name);
    if (!present && set.finished.count(zoom) > 0) return "the finished level " + name + " is missing";
    if (present) {
      if (auto problem = LevelFileProblem(set, folder + name, zoom)) return problem;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string StoredCoordinateText(const std::string& typed) {
  const std::optional<double> value = CoordinateFromText(typed);
  return value ? qm::FormatG15(*value) : typed;
}

bool IsZoomRangeText(const std::string& text) {
  const std::string trimmed = Trimmed(text);
  return trimmed.find('-', 1) != std::string::npos;
}

std::variant<ZoomRange, std::string> ParseZoomRange(const std::string& text) {
  const std::string trimmed = Trimmed(text);
  const size_t dash = trimmed.find('-', 1);
  const std::optional<int32_t> first = qm::IntegerFromText(Trimmed(trimmed.substr(0, dash)));
  const std::optional<int32_t> last =
      dash == std::string::npos ? first : qm::IntegerFromText(Trimmed(trimmed.substr(dash + 1)));
  if (!first || !last) {
    return "'" + text + "' is neither a zoom level nor a range of zoom levels such as 9-12.";
  }
  if (*last < *first) {
    return "The zoom levels " + trimmed + " go downwards: the second should not be below the first.";
  }
  for (const int32_t zoom : {*first, *last}) {
    if (!IsGridZoom(zoom)) return ZoomOutsideGridText(zoom);
  }
  return ZoomRange{*first, *last};
}

std::string LevelTaskName(const std::string& taskName, int32_t zoom) {
  return Stem(taskName) + "_z" + TwoDigits(zoom) + kProjectExtension;
}

std::string LevelSetFileName(const std::string& taskName) { return Stem(taskName) + kSetExtension; }

bool LevelSet::SameSetAs(const LevelSet& other) const {
  return LeftLongitude == other.LeftLongitude && RightLongitude == other.RightLongitude &&
         TopLatitude == other.TopLatitude && BottomLatitude == other.BottomLatitude &&
         Stem(TaskName) == Stem(other.TaskName) && zooms.first == other.zooms.first &&
         zooms.last == other.zooms.last && (area && other.area ? area->geoJson == other.area->geoJson : !area && !other.area);
}

std::string LevelSetText(const LevelSet& set) {
  std::string text;
  const auto line = [&text](const std::string& content) { text.append(content).append(kLineEnd); };
  line("[LevelSet]");
  line("TaskName=" + set.TaskName);
  line("Folder=" + set.Folder);
  line("FirstZoom=" + std::to_string(set.zooms.first));
  line("LastZoom=" + std::to_string(set.zooms.last));
  line("");
  line("[AREA]");
  line("LeftLongitude=" + set.LeftLongitude);
  line("RightLongitude=" + set.RightLongitude);
  line("TopLatitude=" + set.TopLatitude);
  line("BottomLatitude=" + set.BottomLatitude);
  line("");
  line("[Levels]");
  for (int32_t zoom = set.zooms.first; zoom <= set.zooms.last; ++zoom) {
    line(LevelKey(zoom) + "=" + LevelTaskName(set.TaskName, zoom));
  }
  line("");
  line("[Finished]");
  for (const int32_t zoom : set.finished) line(LevelKey(zoom) + "=1");
  line("");
  if (set.area) {
    line("[" + std::string(kAreaSection) + "]");
    line("File=" + AreaFileName(set.TaskName));
    line("Source=" + set.area->source);
    line("Buffer=" + qm::FormatG15(set.area->bufferMetres));
    line("");
  }
  return text;
}

void WriteLevelSet(const std::string& path, const LevelSet& set) {
  if (set.area) qm::WriteFileAtomic(qm::ExtractFilePath(path) + AreaFileName(set.TaskName), set.area->geoJson);
  qm::WriteFileAtomic(path, LevelSetText(set));
}

void RecordFinishedLevel(const std::string& path, const LevelSet& set) {
  qm::WriteFileAtomicUnflushed(path, LevelSetText(set));
}

LevelSet LoadLevelSet(const std::string& path) {
  const qm::IniFile file(path);
  LevelSet set;
  set.keysProblem = SetKeysProblem(file);
  set.TaskName = file.ReadString("LevelSet", "TaskName", "");
  set.Folder = file.ReadString("LevelSet", "Folder", "");
  set.zooms = {file.ReadInteger("LevelSet", "FirstZoom", -1), file.ReadInteger("LevelSet", "LastZoom", -1)};
  set.LeftLongitude = file.ReadString("AREA", "LeftLongitude", "");
  set.RightLongitude = file.ReadString("AREA", "RightLongitude", "");
  set.TopLatitude = file.ReadString("AREA", "TopLatitude", "");
  set.BottomLatitude = file.ReadString("AREA", "BottomLatitude", "");
  for (int32_t zoom = set.zooms.first; zoom <= set.zooms.last && IsGridZoom(zoom); ++zoom) {
    if (!set.unnamedLevel && file.ReadString("Levels", LevelKey(zoom), "") != LevelTaskName(set.TaskName, zoom)) {
      set.unnamedLevel = zoom;
    }
    if (file.ReadInteger("Finished", LevelKey(zoom), 0) == 1) set.finished.insert(zoom);
  }
  if (const std::optional<AreaRecord> record = ReadAreaRecord(path)) {
    auto area = std::make_shared<TaskArea>();
    area->source = record->source;
    area->bufferMetres = record->bufferMetres;
    area->geoJson = ReadAreaText(*record).value_or("");
    set.area = std::move(area);
  }
  return set;
}

std::optional<std::string> LevelSetProblem(const LevelSet& set, const std::string& path) {
  const std::optional<std::string> problem = SetProblem(set, qm::ExtractFilePath(path));
  if (!problem) return std::nullopt;
  return "The level set " + path + " was changed since it was written, so it is not continued: " + *problem + ".";
}

std::variant<LevelSet, std::string> ReadLevelSet(const std::string& path) {
  if (!qm::FileExists(path)) return qm::CannotOpenFileText(path);
  LevelSet set = LoadLevelSet(path);
  if (auto problem = LevelSetProblem(set, path)) return *problem;
  return set;
}

LevelEstimates EstimateLevels(const std::string& left, const std::string& right, const std::string& top,
                              const std::string& bottom, ZoomRange zooms, const TaskArea* area) {
  LevelEstimates result;
  for (int32_t zoom = zooms.first; zoom <= zooms.last; ++zoom) {
    AreaEstimateOrReason level = EstimateArea(left, right, top, bottom, std::to_string(zoom));
    if (!level.estimate) return {{}, level.reason};
    try {
      result.levels.push_back(area ? EstimateInArea(*level.estimate, *area, zoom) : *level.estimate);
    } catch (const TaskError& e) {
      return {{}, e.what()};
    }
  }
  return result;
}

std::string LevelsTotalText(const std::vector<AreaEstimate>& levels) {
  int64_t tiles = 0, listBytes = 0;
  double seconds = 0;
  for (const AreaEstimate& level : levels) {
    tiles += level.tiles;
    listBytes += level.listBytes;
    seconds += level.secondsAtFullSpeed;
  }
  return std::to_string(levels.size()) + " levels: " + GroupedCount(tiles) + " tiles · " + DurationText(seconds) +
         " at 8 tiles/s · tile lists " + ByteSizeText(listBytes);
}

ProjectArea PlannedLevelArea(const LevelSet& set, const std::string& setFile, int32_t zoom) {
  const AreaEstimateOrReason planned =
      EstimateArea(set.LeftLongitude, set.RightLongitude, set.TopLatitude, set.BottomLatitude, std::to_string(zoom));
  if (!planned.estimate) throw ProjectAreaError(planned.reason);
  ProjectArea area;
  area.zoom = zoom;
  area.minX = static_cast<int32_t>(planned.estimate->minX);
  area.maxX = static_cast<int32_t>(planned.estimate->maxX);
  area.minY = static_cast<int32_t>(planned.estimate->minY);
  area.maxY = static_cast<int32_t>(planned.estimate->maxY);
  const std::string folder = qm::ExtractFilePath(setFile);
  area.name = TaskStem(LevelTaskName(set.TaskName, zoom));
  area.tileFolder = folder + area.name + qm::kPathSeparator;
  area.failedList = folder + area.name + "_failed.ftl";
  return area;
}

std::variant<std::vector<std::string>, std::string> ProjectFilesOf(const std::string& file) {
  if (!file.ends_with(".qmset")) return std::vector<std::string>{file};
  const auto set = ReadLevelSet(file);
  if (const auto* reason = std::get_if<std::string>(&set)) return *reason;
  const LevelSet& levels = std::get<LevelSet>(set);
  std::vector<std::string> projects;
  for (int32_t zoom = levels.zooms.first; zoom <= levels.zooms.last; ++zoom) {
    const std::string project = qm::ExtractFilePath(file) + LevelTaskName(levels.TaskName, zoom);
    if (qm::FileExists(project)) projects.push_back(project);
  }
  if (projects.empty()) return "The level set " + file + " has no level downloaded yet.";
  return projects;
}
