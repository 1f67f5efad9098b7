// The order of a task's tiles (1-based, column-major) and their division among workers.
#pragma once

#include <cstdint>

#include "engine/area_cover.h"
#include "engine/tile_range.h"

class TDownTask;

TileRange RangeOf(const TDownTask& task);
int64_t RangeHeight(const TileRange& range);     // rows per column
int64_t RangeTileCount(const TileRange& range);

// The tiles a task walks: every tile of its range, or only those of its area when it has one.
struct TileOrder {
  TileOrder(const TileRange& range) : range(range) {}  // NOLINT: a range is an order of its own
  TileOrder(const TileRange& range, const AreaCover* area) : range(range), area(area) {}
  TileRange range;
  const AreaCover* area = nullptr;  // not owned
};
TileOrder OrderOf(const TDownTask& task);
int64_t OrderTileCount(const TileOrder& order);

// Position of (x, y) in the order: columns outer, rows inner, (MinX, MinY) is 1. In an area's
// order, the number of the area's tiles up to (x, y).
int64_t TileSequenceNumber(const TileOrder& order, int32_t x, int32_t y);
// Sequence number of a worker's last finished tile; 0 (nothing done) when either value is 0.
int64_t ResumeSequence(const TileOrder& order, int32_t resumeX, int32_t resumeY);

// Calls visit(tile) for every tile of the order in sequence while visit returns true.
// Returns false when visit stopped the walk.
template <typename Visit>
bool ForEachTileInOrder(const TileOrder& order, Visit&& visit) {
  if (order.area) return order.area->ForEach(visit);
  const TileRange& range = order.range;
  int64_t sequence = 0;
  // 64-bit loop variables, so a range ending at the largest column or row still ends.
  for (int64_t x = range.MinX; x <= range.MaxX; ++x) {
    for (int64_t y = range.MinY; y <= range.MaxY; ++y) {
      if (!visit(SequencedTile{static_cast<int32_t>(x), static_cast<int32_t>(y), ++sequence})) {
        return false;
      }
    }
  }
  return true;
}

// Which tiles one worker takes: those whose sequence number modulo threadCount is threadIndex and
// that lie after the worker's resume point.
struct WorkerShare {
  int32_t threadIndex;
  int32_t threadCount;
  int64_t resumeSequence;  // 0 when the worker starts from the beginning
};

// The share of worker threadIndex, from the task's worker count and stored resume position.
WorkerShare ShareOf(const TDownTask& task, int32_t threadIndex);

inline bool TakesTile(const WorkerShare& share, int64_t sequence) {
  return share.threadCount > 0 && sequence > share.resumeSequence &&
         sequence % share.threadCount == share.threadIndex;
}

enum class TileOutcome { GoOn, Stop };
enum class WalkEnd { Exhausted, StopRequested, StoppedByTile };

// A worker's walk: before every tile of the order (its own and the others') asks stopRequested();
// hands each of its own tiles to take(tile), which says whether the walk goes on.
template <typename StopRequested, typename Take>
WalkEnd WalkWorkerTiles(const TileOrder& order, const WorkerShare& share,
                        StopRequested&& stopRequested, Take&& take) {
  WalkEnd end = WalkEnd::Exhausted;
  ForEachTileInOrder(order, [&](const SequencedTile& tile) {
    if (stopRequested()) {
      end = WalkEnd::StopRequested;
      return false;
    }
    if (!TakesTile(share, tile.sequence)) return true;
    if (take(tile) == TileOutcome::Stop) {
      end = WalkEnd::StoppedByTile;
      return false;
    }
    return true;
  });
  return end;
}
