// Coarser levels made from rows of finer tiles as they are written: each tile of the level above
// is the four tiles below it, halved. Only one row of tiles per coarser level is held at a time;
// a wide area is made in bands of columns, so that those rows stay short whatever its width.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// 256 x 256 RGBA pixels, or empty where there is nothing (transparent).
using TileRgba = std::vector<uint8_t>;

// A tile range in a grid where the tile above (x, y) is (x / 2, y / 2).
struct PyramidRange {
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  PyramidRange Above() const { return {minX / 2, minY / 2, maxX / 2, maxY / 2}; }
  int32_t Columns() const { return maxX - minX + 1; }
};

class TilePyramid {
 public:
  // Receives each finished row of a coarser level: steps above the base (1 for the first), the
  // row, and its tiles from column x0 on (empty ones hold nothing). The tiles may be moved from.
  using RowSink = std::function<void(int step, int32_t y, int32_t x0, std::vector<TileRgba>& tiles)>;

  // Levels base + 1 .. base + steps above the tiles of range; steps may be 0.
  TilePyramid(PyramidRange base, int steps, RowSink sink);
  // The base tiles x0.. of row y; rows come in order from range.minY, each in runs from left to
  // right, each row closed by EndRow. halved: the tiles are already halved (HalvedTile).
  void AddRun(int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles, bool halved = false);
  void EndRow(int32_t y);

 private:
  struct Level {
    PyramidRange range;
    std::vector<TileRgba> row;  // the row being filled, one tile per column
  };
  void HalveRun(size_t level, int32_t y, int32_t x0, const std::vector<const TileRgba*>& tiles, bool halved);
  void EndRowAt(size_t level, int32_t y);

  PyramidRange base_;
  std::vector<Level> levels_;  // [0] is one step above the base
  RowSink sink_;
};

// Bands of columns: kBandSteps levels above a band lie above it alone.
inline constexpr int kBandSteps = 6;
inline constexpr int32_t kBandColumns = int32_t{1} << kBandSteps;
// The columns of range cut at the multiples of kBandColumns, west to east.
std::vector<PyramidRange> BandsOf(const PyramidRange& range);

// The tiles x0..x1 of row y of a level already made, steps above the base; empty where there is
// none.
using ReadLevel = std::function<std::vector<TileRgba>(int steps, int32_t y, int32_t x0, int32_t x1)>;
// The levels more than kBandSteps above base (up to steps), each kBandSteps of them made band by
// band from the level below them as read back, and given to sink with the steps from base.
void MakeUpperLevels(PyramidRange base, int steps, const ReadLevel& read, const TilePyramid::RowSink& sink);

// The tile halved into the quarter (right, lower) of the tile above; pixels are averaged
// weighted by their opacity, so the edges of an area do not darken. halved: the tile is 128 x 128
// already and is only copied there.
void HalveInto(const TileRgba& tile, bool right, bool lower, TileRgba& above, bool halved = false);
// The tile halved on its own: 128 x 128 RGBA.
TileRgba HalvedTile(const TileRgba& tile);
