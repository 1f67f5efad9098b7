// Writing a project with stored tiles for the refresh tests.
#include "tests/support/refresh_project.h"

#include <stdexcept>

#include "engine/project_area.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/tile_validators.h"
#include "tests/support/test_server.h"

namespace qmtest {

std::string PngBytes(const std::string& what) {
  return std::string("\x89PNG\r\n\x1a\n", 8) + what + std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12);
}

StoredProject::StoredProject(const TempDir& dir) : file_(dir.File("area.qmtp")) {
  qm::IniFile project(file_);
  project.WriteStrings("Zoom", {{"Zoom", std::to_string(kRefreshZoom)}});
  project.WriteStrings("XY", {{"MinX", "2412"}, {"MinY", "3080"}, {"MaxX", "2413"}, {"MaxY", "3081"}});
  if (!qm::CreateDirectory(dir.File("area"))) throw std::runtime_error("cannot create the tile folder");
  for (const auto& [x, y] : kRefreshTiles) {
    qm::WriteFileAtomic(Tile(x, y), PngBytes("old"));
    qm::KeepTileValidators(Tile(x, y), TestServer::DefaultEtag(Path(x, y)), kStoredTileTime);
  }
}

std::string StoredProject::Tile(int32_t x, int32_t y) const { return ReadProjectArea(file_).TilePath(x, y); }

std::string StoredProject::Path(int32_t x, int32_t y) { return TestServer::TilePath(kRefreshZoom, x, y); }

}  // namespace qmtest
