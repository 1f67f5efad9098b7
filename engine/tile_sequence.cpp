// Sequence numbers of a task's tiles and the share of each worker.
#include "engine/tile_sequence.h"

#include "engine/Unitclasstask.h"

TileRange RangeOf(const TDownTask& task) { return {task.MinX, task.MinY, task.MaxX, task.MaxY}; }

int64_t RangeHeight(const TileRange& range) { return int64_t{range.MaxY} - range.MinY + 1; }

int64_t RangeTileCount(const TileRange& range) {
  return (int64_t{range.MaxX} - range.MinX + 1) * RangeHeight(range);
}

TileOrder OrderOf(const TDownTask& task) { return {RangeOf(task), task.Cover.get()}; }

int64_t OrderTileCount(const TileOrder& order) {
  return order.area ? order.area->Tiles() : RangeTileCount(order.range);
}

int64_t TileSequenceNumber(const TileOrder& order, int32_t x, int32_t y) {
  if (order.area) return order.area->TilesUpTo(x, y);
  const TileRange& range = order.range;
  return (int64_t{x} - range.MinX) * RangeHeight(range) + (int64_t{y} - range.MinY) + 1;
}

int64_t ResumeSequence(const TileOrder& order, int32_t resumeX, int32_t resumeY) {
  if (resumeX == 0 || resumeY == 0) return 0;
  return TileSequenceNumber(order, resumeX, resumeY);
}

WorkerShare ShareOf(const TDownTask& task, int32_t threadIndex) {
  int64_t resume = 0;
  if (threadIndex >= 0 && threadIndex < TDownTask::kResumeSlots) {
    resume = ResumeSequence(OrderOf(task), task.ResumeX[threadIndex], task.ResumeY[threadIndex]);
  }
  return {threadIndex, task.Params->ThreadCount, resume};
}
