// Work spread over every core: a loop whose steps run on all hardware threads, and a run of
// tiles of one row loaded (read and decoded) that way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "mosaic/tile_pixels.h"

// Runs work(0) .. work(count - 1) on every core (on at least leastThreads threads); the first
// exception thrown by a step is thrown again here once every thread has stopped.
void ParallelFor(size_t count, const std::function<void(size_t)>& work, size_t leastThreads = 0);

// Threads that load tiles at least, however few the cores.
inline constexpr size_t kLoadingThreads = 8;

// The tiles x0..x1 of row y, in order. The writers load a band's row at a time (kBandColumns):
// enough to keep every core busy, few enough that memory stays small whatever the area's width.
std::vector<MosaicTile> LoadTiles(const TileLoader& loader, int32_t y, int32_t x0, int32_t x1);
