// Coarser levels made from rows of finer tiles as they are written: each tile of the level above
// is the four tiles below it, halved. Only one row of tiles per coarser level is held at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// 256 x 256 RGBA pixels, or empty where there is nothing (transparent).
using TileRgba = std::vector<uint8_t>;

// A tile range in a grid where the tile above (x, y) is (x / 2, y / 2).
struct TileRange {
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  TileRange Above() const { return {minX / 2, minY / 2, maxX / 2, maxY / 2}; }
  int32_t Columns() const { return maxX - minX + 1; }
};

class TilePyramid {
 public:
  // Receives each finished row of a coarser level: steps above the base (1 for the first), the
  // row, and its tiles from range.minX on (empty ones hold nothing). The tiles may be moved from.
  using RowSink = std::function<void(int step, int32_t y, std::vector<TileRgba>& tiles)>;

  // Levels base + 1 .. base + steps above the tiles of range; steps may be 0.
  TilePyramid(TileRange base, int steps, RowSink sink);
  // The base tiles x0.. of row y; rows come in order from range.minY, each in runs from left to
  // right, each row closed by EndRow.
  void AddRun(int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles);
  void EndRow(int32_t y);

 private:
  struct Level {
    TileRange range;
    std::vector<TileRgba> row;  // the row being filled, one tile per column
  };
  void HalveRun(size_t level, int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles);
  void EndRowAt(size_t level, int32_t y);

  TileRange base_;
  std::vector<Level> levels_;  // [0] is one step above the base
  RowSink sink_;
};

// The tile halved into the quarter (right, lower) of the tile above; pixels are averaged
// weighted by their opacity, so the edges of an area do not darken.
void HalveInto(const TileRgba& tile, bool right, bool lower, TileRgba& above);
