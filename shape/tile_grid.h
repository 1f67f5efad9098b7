// Positions on the tile grid of one zoom as real numbers: column and row edges fall on whole
// numbers, so a shape's edge lies on a tile's edge exactly when its position is whole.
#pragma once

#include <cstdint>

class TileGrid {
 public:
  explicit TileGrid(int zoom);
  int64_t Tiles() const { return tiles_; }  // columns, and rows, of the grid
  // Rows count from the north. Positions within kSnapDegrees of a tile edge are on it: a
  // coordinate written in degrees is off by a few units of its last digit, and must not decide a
  // tile.
  double Row(double lat) const { return Snapped(RawRow(lat)); }
  // The coordinate moved onto the tile edge it lies within kSnapDegrees of, as the grid gives
  // that edge; any other as it is.
  double OnEdgeLon(double lon) const;
  double OnEdgeLat(double lat) const;

 private:
  double RawColumn(double lon) const;
  double RawRow(double lat) const;
  bool NearEdge(double position) const;
  double Snapped(double position) const;
  int zoom_;
  int64_t tiles_;
  double snap_;  // kSnapDegrees in tiles
};

// About a micrometre on the ground, some hundreds of units of the last digit of a longitude.
inline constexpr double kSnapDegrees = 1e-11;
