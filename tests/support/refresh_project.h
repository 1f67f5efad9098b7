// A downloaded project to refresh: area.qmtp with a 2 x 2 tile range at zoom 13 and its tile
// folder, each tile stored as the test server's validated answers describe it (the path's
// default ETag and a time in 1994).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "tests/support/temp_dir.h"

namespace qmtest {

inline constexpr int kRefreshZoom = 13;
inline constexpr std::pair<int32_t, int32_t> kRefreshTiles[] = {{2412, 3080}, {2412, 3081}, {2413, 3080}, {2413, 3081}};
inline constexpr const char* kStoredTileTime = "Tue, 15 Nov 1994 12:45:26 GMT";

// Bytes that start and end like a PNG file, with what between.
std::string PngBytes(const std::string& what);

class StoredProject {
 public:
  explicit StoredProject(const TempDir& dir);
  const std::string& File() const { return file_; }
  std::string Tile(int32_t x, int32_t y) const;
  static std::string Path(int32_t x, int32_t y);  // the tile's path on the test server

 private:
  std::string file_;
};

}  // namespace qmtest
