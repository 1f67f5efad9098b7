// Listing a project's stored tiles and keeping the refresh's positions in its project file.
#include "download/refresh_tiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/tile_source.h"
#include "platform/errors.h"
#include "platform/http_date.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

namespace fs = std::filesystem;

int64_t SequenceOf(const ProjectArea& area, int32_t x, int32_t y) {
  return (int64_t{x} - area.minX) * area.Rows() + (int64_t{y} - area.minY) + 1;
}

bool OlderThan(const std::string& path, std::time_t bound, std::time_t now) {
  struct stat info {};
  // A tile whose time cannot be read, or lies in the future, is asked for: its age is unknown.
  return stat(path.c_str(), &info) != 0 || info.st_mtim.tv_sec < bound || info.st_mtim.tv_sec > now;
}

std::optional<int32_t> IntegerOf(const qm::IniFile& file, const std::string& key) {
  return qm::IntegerFromText(file.ReadString(kRefreshSection, key, ""));
}

std::string TextOf(const std::optional<int32_t>& value) { return value ? std::to_string(*value) : ""; }

}  // namespace

std::vector<StoredTile> StoredTilesOf(const ProjectArea& area, std::optional<std::time_t> olderThan,
                                      std::time_t now) {
  std::vector<StoredTile> tiles;
  std::error_code error;
  for (fs::directory_iterator it(area.tileFolder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::optional<TileFileNumbers> numbers = ParseTileFileName(name);
    if (!numbers || numbers->zoom != area.zoom || !area.Contains(numbers->x, numbers->y)) continue;
    if (!it->is_regular_file(error) || name != SatelliteTileFileName(area.zoom, numbers->x, numbers->y)) continue;
    if (olderThan && !OlderThan(it->path().string(), *olderThan, now)) continue;
    tiles.push_back({numbers->x, numbers->y, SequenceOf(area, numbers->x, numbers->y)});
  }
  if (error) throw qm::FileError("Cannot read the tile folder " + area.tileFolder + ": " + error.message());
  std::sort(tiles.begin(), tiles.end(), [](const StoredTile& a, const StoredTile& b) { return a.sequence < b.sequence; });
  return tiles;
}

int64_t RefreshPositions::ResumeOf(int i) const {
  const std::optional<StoredTile>& tile = last[static_cast<size_t>(i)];
  return tile ? tile->sequence : 0;
}

RefreshPositions ReadRefreshPositions(const std::string& projectFile, const ProjectArea& area) {
  const qm::IniFile project(projectFile);
  RefreshPositions positions;
  const std::optional<std::time_t> started = qm::ParseHttpDate(project.ReadString(kRefreshSection, "Started", ""));
  const std::optional<int32_t> workers = IntegerOf(project, "Workers");
  if (!started || !workers || *workers < 1 || *workers > kMaxRefreshWorkers) return {};
  positions.started = *started;
  positions.workers = *workers;
  positions.olderThanDays = IntegerOf(project, "OlderThan");
  for (int i = 0; i < *workers; ++i) {
    const std::string n = std::to_string(i + 1);
    const std::optional<int32_t> x = IntegerOf(project, "T" + n + "X");
    const std::optional<int32_t> y = IntegerOf(project, "T" + n + "Y");
    if (x && y && area.Contains(*x, *y)) positions.last[static_cast<size_t>(i)] = StoredTile{*x, *y, SequenceOf(area, *x, *y)};
  }
  return positions;
}

void WriteRefreshPositions(const std::string& projectFile, const RefreshPositions& positions) {
  std::vector<qm::IniFile::KeyValuePair> values = {{"Started", qm::HttpDate(positions.started)},
                                                   {"OlderThan", TextOf(positions.olderThanDays)},
                                                   {"Workers", std::to_string(positions.workers)}};
  for (int i = 0; i < positions.workers; ++i) {
    const std::optional<StoredTile>& tile = positions.last[static_cast<size_t>(i)];
    const std::string n = std::to_string(i + 1);
    values.emplace_back("T" + n + "X", tile ? std::to_string(tile->x) : "");
    values.emplace_back("T" + n + "Y", tile ? std::to_string(tile->y) : "");
  }
  qm::IniFile(projectFile).WriteStrings(kRefreshSection, values);
}

void ClearRefreshPositions(const std::string& projectFile) {
  qm::IniFile project(projectFile);
  std::vector<qm::IniFile::KeyValuePair> values = {{"Started", ""}, {"OlderThan", ""}, {"Workers", ""}};
  // Only the keys there are: a refresh of few workers leaves no empty keys of the others behind.
  constexpr const char* kMissing = "\n";
  for (int i = 1; i <= kMaxRefreshWorkers; ++i) {
    for (const char* axis : {"X", "Y"}) {
      const std::string key = "T" + std::to_string(i) + axis;
      if (project.ReadString(kRefreshSection, key, kMissing) != kMissing) values.emplace_back(key, "");
    }
  }
  project.WriteStrings(kRefreshSection, values);
}
