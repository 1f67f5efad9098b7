// Builds and keeps up to date the overview pieces of an area on a thread of its own: one walk
// over the pyramid when it starts (pieces whose signature still matches are kept), then the
// pieces above every tile reported as changed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "mapview/overview_store.h"
#include "mapview/view_geometry.h"

namespace mapview {

// Above this many tiles the walk is left out: it would look at every tile's file, for hours.
// Pieces over tiles reported as changed are still built.
inline constexpr int64_t kMaxWalkedTiles = int64_t{1} << 26;

class OverviewBuilder {
 public:
  using PieceBuilt = std::function<void(const PieceKey&)>;  // called on the builder's thread

  OverviewBuilder(const CellRect& area, std::string tileFolder, int zoom, OverviewStore& store, PieceBuilt built);
  ~OverviewBuilder();  // stops and waits for the thread
  OverviewBuilder(const OverviewBuilder&) = delete;
  OverviewBuilder& operator=(const OverviewBuilder&) = delete;

  void Start();
  // The tile changed on disk: the pieces above it are looked at again.
  void TileChanged(int64_t x, int64_t y);
  // Changes may have gone unseen: every piece is looked at again.
  void WalkAgain();
  int64_t PiecesDone() const { return done_.load(); }
  int64_t PiecesTotal() const { return total_; }
  int64_t PiecesBuilt() const { return built_.load(); }
  bool WalkFinished() const { return walkFinished_.load(); }
  // Whether the walk is made at all (the area holds at most kMaxWalkedTiles).
  bool Walks() const { return walks_; }


 private:
  void Run();
  // Returns whether the piece was built or removed.
  bool RefreshPiece(const PieceKey& piece);
  void Enqueue(const PieceKey& piece);
  bool NextChanged(PieceKey& piece);

  const CellRect area_;
  const std::string tileFolder_;
  const int zoom_;
  const int topLevel_;
  const bool walks_;
  OverviewStore& store_;
  PieceBuilt onBuilt_;
  int64_t total_ = 0;
  std::atomic<int64_t> done_{0}, built_{0};
  std::atomic<bool> walkFinished_{false};

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<PieceKey> changed_;  // in the order they changed, each once
  std::unordered_set<PieceKey, PieceKeyHash> queued_;
  bool walkAgain_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace mapview
