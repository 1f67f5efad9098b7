// The order of a task's tiles (1-based, column-major) and their division among workers.
#pragma once

#include <cstdint>

class TDownTask;

// Columns MinX..MaxX and rows MinY..MaxY, both ends included.
struct TileRange {
  int32_t MinX, MinY, MaxX, MaxY;
};

TileRange RangeOf(const TDownTask& task);
int64_t RangeHeight(const TileRange& range);     // rows per column
int64_t RangeTileCount(const TileRange& range);

// Position of (x, y) in the order: columns outer, rows inner, (MinX, MinY) is 1.
int64_t TileSequenceNumber(const TileRange& range, int32_t x, int32_t y);
// Sequence number of a worker's last finished tile; 0 (nothing done) when either value is 0.
int64_t ResumeSequence(const TileRange& range, int32_t resumeX, int32_t resumeY);

struct SequencedTile {
  int32_t x;
  int32_t y;
  int64_t sequence;
};

// Calls visit(tile) for every tile of the range in sequence order while visit returns true.
// Returns false when visit stopped the walk.
template <typename Visit>
bool ForEachTileInOrder(const TileRange& range, Visit&& visit) {
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

// A worker's walk: before every tile of the range (its own and the others') asks stopRequested();
// hands each of its own tiles to take(tile), which says whether the walk goes on.
template <typename StopRequested, typename Take>
WalkEnd WalkWorkerTiles(const TileRange& range, const WorkerShare& share,
                        StopRequested&& stopRequested, Take&& take) {
  WalkEnd end = WalkEnd::Exhausted;
  ForEachTileInOrder(range, [&](const SequencedTile& tile) {
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
