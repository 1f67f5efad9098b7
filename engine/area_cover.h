// The tiles of a download area that is not a rectangle (a region, a route, a place), kept per
// column as intervals of rows, so memory grows with the outline and not with the bounding box.
// Tiles are ordered as a task walks them: columns west to east, in each column north to south.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/tile_range.h"

struct RowInterval {
  int32_t first = 0;
  int32_t last = 0;  // included
};

class AreaCover {
 public:
  AreaCover() = default;
  // columns[i] holds the row intervals of column minX + i; they are sorted and merged here.
  AreaCover(int32_t zoom, int32_t minX, std::vector<std::vector<RowInterval>> columns);

  int32_t Zoom() const { return zoom_; }
  bool Empty() const { return Tiles() == 0; }
  int64_t Tiles() const { return before_.empty() ? 0 : before_.back(); }
  // The bounding range of the tiles; MinX > MaxX when there are none.
  TileRange Bounds() const { return bounds_; }
  bool Contains(int32_t x, int32_t y) const;
  // How many tiles of the cover come at or before (x, y) in the order: a tile's own sequence
  // number when it is inside.
  int64_t TilesUpTo(int32_t x, int32_t y) const;
  // The row intervals of column x; empty outside the cover.
  const std::vector<RowInterval>& Column(int32_t x) const;
  // Only the tiles inside range.
  AreaCover ClippedTo(const TileRange& range) const;

  // Calls visit(tile) for every tile in order while visit returns true; false when it stopped.
  template <typename Visit>
  bool ForEach(Visit&& visit) const {
    int64_t sequence = 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const auto x = static_cast<int32_t>(int64_t{minX_} + static_cast<int64_t>(i));
      for (const RowInterval& rows : columns_[i]) {
        for (int64_t y = rows.first; y <= rows.last; ++y) {
          if (!visit(SequencedTile{x, static_cast<int32_t>(y), ++sequence})) return false;
        }
      }
    }
    return true;
  }

 private:
  int32_t zoom_ = 0;
  int32_t minX_ = 0;
  std::vector<std::vector<RowInterval>> columns_;
  std::vector<int64_t> before_;  // before_[i]: tiles in columns 0..i
  TileRange bounds_{0, 0, -1, -1};
};
