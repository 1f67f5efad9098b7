// The overview thread: a pyramid walk, interleaved with the pieces over changed tiles.
#include "mapview/overview_builder.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "mapview/overview_plan.h"
#include "mapview/piece_images.h"

namespace mapview {

OverviewBuilder::OverviewBuilder(const CellRect& area, std::string tileFolder, int zoom, OverviewStore& store,
                                 PieceBuilt built)
    : area_(area),
      tileFolder_(std::move(tileFolder)),
      zoom_(zoom),
      topLevel_(OverviewTopLevel(area)),
      walks_(area.Count() <= kMaxWalkedTiles),
      store_(store),
      onBuilt_(std::move(built)) {
  if (!walks_) {
    walkFinished_ = true;
    return;
  }
  for (int level = kFirstOverviewLevel; level <= topLevel_; ++level) total_ += PiecesOver(area_, level).Count();
}

OverviewBuilder::~OverviewBuilder() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// A builder that fails (out of memory, most likely) stops building; the view goes on without the
// pieces it did not make.
void OverviewBuilder::Start() {
  thread_ = std::thread([this] {
    try {
      Run();
    } catch (const std::exception&) {
      walkFinished_ = true;
    }
  });
}

void OverviewBuilder::TileChanged(int64_t x, int64_t y) {
  if (!area_.Contains(x, y)) return;
  Enqueue({kFirstOverviewLevel, x >> kFirstOverviewLevel, y >> kFirstOverviewLevel});
}

void OverviewBuilder::WalkAgain() {
  if (!walks_) return;
  {
    std::lock_guard lock(mutex_);
    walkAgain_ = true;
  }
  wake_.notify_all();
}

void OverviewBuilder::Enqueue(const PieceKey& piece) {
  {
    std::lock_guard lock(mutex_);
    if (queued_.insert(piece).second) changed_.push_back(piece);
  }
  wake_.notify_all();
}

bool OverviewBuilder::RefreshPiece(const PieceKey& piece) {
  uint64_t stamp = 0;
  if (piece.level == kFirstOverviewLevel) {
    stamp = FirstLevelStamp(piece, area_, tileFolder_, zoom_);
  } else {
    std::vector<uint64_t> children;
    for (const PieceKey& child : ChildrenOf(piece, area_)) children.push_back(store_.StampOf(child));
    stamp = ParentStamp(children);
  }
  if (stamp == store_.StampOf(piece)) return false;
  if (stamp == 0) {
    store_.Remove(piece);
  } else {
    const QImage image = piece.level == kFirstOverviewLevel
                             ? ComposeFirstLevel(piece, area_, tileFolder_, zoom_)
                             : ComposeFromChildren(piece, area_, [this](const PieceKey& k) { return store_.PathOf(k); });
    if (!store_.Put(piece, stamp, EncodeJpeg(image))) return false;
  }
  ++built_;
  if (onBuilt_) onBuilt_(piece);
  return true;
}

bool OverviewBuilder::NextChanged(PieceKey& piece) {
  std::lock_guard lock(mutex_);
  if (changed_.empty()) return false;
  piece = changed_.front();
  changed_.pop_front();
  queued_.erase(piece);
  return true;
}

// Changed pieces and the walk take turns, so neither starves the other. A changed piece that
// was built queues its parent behind the other changes, so a parent over many changed pieces is
// built once after them.
void OverviewBuilder::Run() {
  PyramidWalk walk(area_);
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (walkFinished_) wake_.wait(lock, [this] { return stop_ || walkAgain_ || !changed_.empty(); });
      if (stop_) return;
      if (std::exchange(walkAgain_, false)) {
        walk = PyramidWalk(area_);
        done_ = 0;
        walkFinished_ = false;
      }
    }
    PieceKey piece;
    if (NextChanged(piece) && RefreshPiece(piece) && piece.level < topLevel_) Enqueue(ParentOf(piece));
    if (walkFinished_) continue;
    if (const auto next = walk.Next()) {
      RefreshPiece(*next);
      ++done_;
    } else {
      walkFinished_ = true;
    }
  }
}

}  // namespace mapview
