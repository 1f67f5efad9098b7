// Checking the keys of a level set file.
#include "engine/level_set_keys.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string_view>
#include <vector>

#include "engine/Unitclasstask.h"
#include "engine/task_area.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

constexpr const char* kSetSection = "LevelSet";
constexpr const char* kEdgeSection = "AREA";
constexpr const char* kLevelsSection = "Levels";
constexpr const char* kFinishedSection = "Finished";
constexpr double kMaxBufferMetres = 100000;

struct Key {
  const char* section;
  const char* name;
};

constexpr Key kNeeded[] = {{kSetSection, "TaskName"},          {kSetSection, "Folder"},
                           {kSetSection, "FirstZoom"},         {kSetSection, "LastZoom"},
                           {kEdgeSection, "LeftLongitude"},    {kEdgeSection, "RightLongitude"},
                           {kEdgeSection, "TopLatitude"},      {kEdgeSection, "BottomLatitude"}};
constexpr Key kNeededWithArea[] = {{kAreaSection, "File"}, {kAreaSection, "Source"}, {kAreaSection, "Buffer"}};

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool Has(const qm::IniFile& file, const Key& key) {
  const std::vector<std::string> names = file.KeyNames(key.section);
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) { return Lowered(name) == Lowered(key.name); });
}

std::string Named(const Key& key) { return "[" + std::string(key.section) + "] " + key.name; }

std::optional<std::string> RepeatedKey(const qm::IniFile& file) {
  for (const char* section : {kSetSection, kEdgeSection, kLevelsSection, kFinishedSection, kAreaSection}) {
    std::set<std::string> seen;
    for (const std::string& name : file.KeyNames(section)) {
      if (!seen.insert(Lowered(name)).second) return "its key " + Named({section, name.c_str()}) + " is written twice";
    }
  }
  return std::nullopt;
}

std::optional<std::string> MissingKey(const qm::IniFile& file) {
  for (const Key& key : kNeeded) {
    if (!Has(file, key)) return "its key " + Named(key) + " is missing";
  }
  if (file.KeyNames(kAreaSection).empty()) return std::nullopt;
  for (const Key& key : kNeededWithArea) {
    if (!Has(file, key)) return "its key " + Named(key) + " is missing";
  }
  return std::nullopt;
}

std::optional<int32_t> GridZoom(const std::string& text) {
  const std::optional<int32_t> zoom = qm::IntegerFromText(text);
  return zoom && IsGridZoom(*zoom) ? zoom : std::nullopt;
}

std::optional<std::string> ZoomProblem(const qm::IniFile& file, const char* key) {
  const std::string text = file.ReadString(kSetSection, key, "");
  if (GridZoom(text)) return std::nullopt;
  return "its " + std::string(key) + " \"" + text + "\" is not a zoom level of the tile grid (0 to " +
         std::to_string(kMaxGridZoom) + ")";
}

// "Z09" (any case) for a level of the set.
bool NamesLevel(const std::string& key, int32_t first, int32_t last) {
  for (int32_t zoom = first; zoom <= last; ++zoom) {
    char name[8];
    std::snprintf(name, sizeof name, "z%02d", static_cast<int>(zoom));
    if (Lowered(key) == name) return true;
  }
  return false;
}

std::optional<std::string> MarkProblem(const qm::IniFile& file, const char* section, int32_t first, int32_t last) {
  for (const std::string& key : file.KeyNames(section)) {
    if (!NamesLevel(key, first, last)) return "its key " + Named({section, key.c_str()}) + " names no level of the set";
    const std::string value = file.ReadString(section, key, "");
    if (std::string_view(section) == kFinishedSection && value != "1") {
      return "its mark " + Named({section, key.c_str()}) + "=" + value + " is not 1";
    }
  }
  return std::nullopt;
}

std::optional<std::string> BufferProblem(const qm::IniFile& file) {
  if (file.KeyNames(kAreaSection).empty()) return std::nullopt;
  const std::string text = file.ReadString(kAreaSection, "Buffer", "");
  const std::optional<double> metres = qm::StrictNumberFromText(text);
  if (metres && *metres >= 0 && *metres <= kMaxBufferMetres) return std::nullopt;
  return "its buffer \"" + text + "\" is not a number of metres from 0 to 100,000";
}

}  // namespace

std::optional<std::string> SetKeysProblem(const qm::IniFile& file) {
  if (auto problem = RepeatedKey(file)) return problem;
  if (auto problem = MissingKey(file)) return problem;
  for (const char* key : {"FirstZoom", "LastZoom"}) {
    if (auto problem = ZoomProblem(file, key)) return problem;
  }
  const int32_t first = *GridZoom(file.ReadString(kSetSection, "FirstZoom", ""));
  const int32_t last = *GridZoom(file.ReadString(kSetSection, "LastZoom", ""));
  if (first >= last) return std::nullopt;  // the set's own check says that its levels are no range
  for (const char* section : {kLevelsSection, kFinishedSection}) {
    if (auto problem = MarkProblem(file, section, first, last)) return problem;
  }
  return BufferProblem(file);
}
