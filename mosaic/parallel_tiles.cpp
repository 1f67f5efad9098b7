#include "mosaic/parallel_tiles.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

void ParallelFor(size_t count, const std::function<void(size_t)>& work, size_t leastThreads) {
  const size_t cores = std::max<size_t>(1, std::thread::hardware_concurrency());
  const size_t threads = std::min<size_t>(std::max(cores, leastThreads), count);
  if (threads <= 1) {
    for (size_t i = 0; i < count; ++i) work(i);
    return;
  }
  std::atomic<size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  auto run = [&] {
    for (size_t i = next++; i < count; i = next++) {
      try {
        work(i);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(failureLock);
        if (!failure) failure = std::current_exception();
        next = count;
      }
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(run);
  run();
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

std::vector<MosaicTile> LoadTiles(const TileLoader& loader, int32_t y, int32_t x0, int32_t x1) {
  std::vector<MosaicTile> tiles(static_cast<size_t>(x1 - x0 + 1));
  // Reading files not in memory waits on the disk: more reads in flight than cores keep it busy.
  ParallelFor(tiles.size(), [&](size_t i) { tiles[i] = loader.Load(x0 + static_cast<int32_t>(i), y); }, kLoadingThreads);
  return tiles;
}
