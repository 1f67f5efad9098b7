// A rectangle of tiles and a tile's place in a task's order.
#pragma once

#include <cstdint>

// Columns MinX..MaxX and rows MinY..MaxY, both ends included.
struct TileRange {
  int32_t MinX, MinY, MaxX, MaxY;
};

struct SequencedTile {
  int32_t x;
  int32_t y;
  int64_t sequence;  // 1 for the first tile of the order
};
