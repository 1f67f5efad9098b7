// The tile source: file name, file path, extension and URL of a tile of the satellite map source.
#include <string>

#include "engine/Unitclasstask.h"
#include "engine/tile_source.h"

namespace {

// The one map source of the program (code 4): satellite imagery of a map-tiler service.
constexpr const char* kSatellitePrefix = "kv";
constexpr const char* kSatelliteExtension = "jpg";
constexpr const char* kSatellitePath = "/maptiler/v2/maptile/newest/satellite.day/";

}  // namespace

std::string TileNameBeforeRow(const TDownTask&, int32_t x) {
  return std::string(kSatellitePrefix) + "_" + std::to_string(x) + "_";
}

std::string TileNameAfterRow(const TDownTask& task) {
  return "_" + std::to_string(task.Params->Zoom) + "." + TileExtension(task);
}

std::string TileFileName(const TDownTask& task, int32_t x, int32_t y) {
  return TileNameBeforeRow(task, x) + std::to_string(y) + TileNameAfterRow(task);
}

std::string TileFilePath(const TDownTask& task, int32_t x, int32_t y) {
  return task.TileDir + TileFileName(task, x, y);
}

std::string TileExtension(const TDownTask&) { return kSatelliteExtension; }

std::string TileUrl(const TDownTask& task, int32_t x, int32_t y) {
  return "http://" + task.Params->TileServer + kSatellitePath + std::to_string(task.Params->Zoom) +
         "/" + std::to_string(x) + "/" + std::to_string(y) + "/256/png8";
}
