// The tiles a shape touches at one zoom, kept as column intervals per row, so memory grows with
// the outline and not with the bounding box.
#pragma once

#include <cstdint>
#include <vector>

class AreaShape;

struct ColumnInterval {
  int32_t first = 0;
  int32_t last = 0;  // included
};

struct TileCover {
  int zoom = 0;
  int32_t minX = 0, maxX = -1, minY = 0, maxY = -1;  // the bounding range of the covered tiles
  std::vector<std::vector<ColumnInterval>> rows;     // rows minY..maxY, intervals sorted, apart

  int64_t Tiles() const;
  bool Contains(int32_t x, int32_t y) const;
};

// Every tile whose square (edges included) meets the shape at the zoom.
TileCover CoverOf(const AreaShape& shape, int zoom);
