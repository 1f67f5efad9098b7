// The tile source: file name, file path, extension and URL of a tile of the satellite map source.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/Unitclasstask.h"
#include "engine/tile_server_setting.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"

namespace {

// The one map source of the program (code 4): satellite imagery of a map-tiler service.
constexpr const char* kSatellitePrefix = "kv";
constexpr const char* kSatelliteExtension = "jpg";

// Whether text is count numbers of decimal digits separated by single underscores.
bool IsNumbersJoinedByUnderscores(std::string_view text, int count) {
  int numbers = 0;
  bool inNumber = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      if (!inNumber) ++numbers;
      inNumber = true;
    } else if (c == '_' && inNumber) {
      inNumber = false;
    } else {
      return false;
    }
  }
  return inNumber && numbers == count;
}

}  // namespace

std::string TileNameBeforeRow(const TDownTask&, int32_t x) {
  return std::string(kSatellitePrefix) + "_" + std::to_string(x) + "_";
}

std::string TileNameAfterRow(const TDownTask& task) {
  return "_" + std::to_string(task.Params->Zoom) + "." + TileExtension(task);
}

std::string SatelliteTileFileName(int zoom, int32_t x, int32_t y) {
  return std::string(kSatellitePrefix) + "_" + std::to_string(x) + "_" + std::to_string(y) + "_" +
         std::to_string(zoom) + "." + kSatelliteExtension;
}

std::string TileFileName(const TDownTask& task, int32_t x, int32_t y) {
  return TileNameBeforeRow(task, x) + std::to_string(y) + TileNameAfterRow(task);
}

std::string TileFilePath(const TDownTask& task, int32_t x, int32_t y) {
  return task.TileDir + TileFileName(task, x, y);
}

std::string TileExtension(const TDownTask&) { return kSatelliteExtension; }

std::string SatelliteTileUrl(const std::string& tileServer, int zoom, int32_t x, int32_t y) {
  if (IsTileUrlTemplate(tileServer)) return FilledTileUrl(tileServer, zoom, x, y);
  return "http://" + tileServer + std::string(kSatelliteTilePath) + std::to_string(zoom) + "/" +
         std::to_string(x) + "/" + std::to_string(y) + std::string(kSatelliteTileSuffix);
}

std::string TileUrl(const TDownTask& task, int32_t x, int32_t y) {
  return SatelliteTileUrl(task.Params->TileServer, task.Params->Zoom, x, y);
}

bool IsTileFileName(std::string_view name) {
  const std::string prefix = std::string(kSatellitePrefix) + "_";
  const std::string suffix = std::string(".") + kSatelliteExtension;
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
  name.remove_prefix(prefix.size());
  name.remove_suffix(suffix.size());
  return IsNumbersJoinedByUnderscores(name, 3);  // column, row, zoom
}

std::optional<TileFileNumbers> ParseTileFileName(std::string_view name) {
  if (!IsTileFileName(name)) return std::nullopt;
  name.remove_prefix(std::string_view(kSatellitePrefix).size() + 1);
  name = name.substr(0, name.rfind('.'));
  int64_t numbers[3] = {0, 0, 0};
  for (int index = 0; index < 3; ++index) {
    const std::string_view digits = name.substr(0, name.find('_'));
    // A number written with a leading zero is another file than the tile's own name.
    if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
    if (digits.size() > 10) return std::nullopt;
    for (const char c : digits) numbers[index] = numbers[index] * 10 + (c - '0');
    if (numbers[index] > INT32_MAX) return std::nullopt;
    name.remove_prefix(std::min(name.size(), digits.size() + 1));
  }
  return TileFileNumbers{static_cast<int32_t>(numbers[0]), static_cast<int32_t>(numbers[1]),
                         static_cast<int>(numbers[2])};
}

void RemoveTileLeftovers(const TDownTask& task) {
  qm::RemoveStaleTemporaryFilesIn(task.TileDir, IsTileFileName);
}
