// The image cache of the map view.
#include "mapview/piece_cache.h"

#include <exception>
#include <mutex>

namespace mapview {

struct PieceCache::Wanted {
  std::mutex mutex;
  std::unordered_set<PieceKey, PieceKeyHash> pieces;
  bool Contains(const PieceKey& piece) {
    std::lock_guard lock(mutex);
    return pieces.contains(piece);
  }
};

PieceCache::PieceCache(Loader loader, size_t budgetBytes, QObject* parent)
    : QObject(parent), loader_(std::move(loader)), budget_(budgetBytes), wanted_(std::make_shared<Wanted>()) {
  pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

PieceCache::~PieceCache() {
  pool_.clear();
  pool_.waitForDone();
}

size_t PieceCache::CostOf(const QImage& image) {
  return 1024 + static_cast<size_t>(image.sizeInBytes());
}

const QImage* PieceCache::Find(const PieceKey& piece) {
  const auto it = entries_.find(piece);
  if (it == entries_.end()) return nullptr;
  uses_.splice(uses_.begin(), uses_, it->second.use);
  return &it->second.image;
}

void PieceCache::Want(const std::vector<PieceKey>& pieces) {
  keepAtLeast_ = pieces.size();
  {
    std::lock_guard lock(wanted_->mutex);
    wanted_->pieces.clear();
    for (const PieceKey& piece : pieces) {
      if (!entries_.contains(piece)) wanted_->pieces.insert(piece);
    }
  }
  for (const PieceKey& piece : pieces) {
    if (entries_.contains(piece) || !pending_.insert(piece).second) continue;
    const std::shared_ptr<Wanted> wanted = wanted_;
    pool_.start([this, wanted, piece] {
      bool loaded = wanted->Contains(piece);
      QImage image;
      try {
        if (loaded) image = loader_(piece);
      } catch (const std::exception&) {
        image = QImage();  // out of memory, or a file that went away: shown as not there
      }
      // A loader may give up on a piece the view stopped wanting; that empty result is not kept.
      loaded = loaded && (!image.isNull() || wanted->Contains(piece));
      QMetaObject::invokeMethod(
          this, [this, piece, image = std::move(image), loaded]() mutable { Arrive(piece, std::move(image), loaded); },
          Qt::QueuedConnection);
    });
  }
}

void PieceCache::Arrive(const PieceKey& piece, QImage image, bool loaded) {
  pending_.erase(piece);
  // A result that is dropped still asks for a repaint, which asks again for what is in view.
  if (forgotten_.erase(piece) > 0 || !loaded) {
    emit arrived();
    return;
  }
  const auto [it, added] = entries_.try_emplace(piece);
  if (!added) bytes_ -= CostOf(it->second.image);
  else it->second.use = uses_.insert(uses_.begin(), piece);
  it->second.image = std::move(image);
  bytes_ += CostOf(it->second.image);
  // The images of the view in hand stay, even when they alone exceed the budget.
  while (bytes_ > budget_ && uses_.size() > std::max<size_t>(keepAtLeast_, 1)) {
    const auto oldest = entries_.find(uses_.back());
    bytes_ -= CostOf(oldest->second.image);
    entries_.erase(oldest);
    uses_.pop_back();
  }
  emit arrived();
}

void PieceCache::Forget(const PieceKey& piece) {
  if (pending_.contains(piece)) forgotten_.insert(piece);
  const auto it = entries_.find(piece);
  if (it == entries_.end()) return;
  bytes_ -= CostOf(it->second.image);
  uses_.erase(it->second.use);
  entries_.erase(it);
}

void PieceCache::ForgetEmpty() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (!it->second.image.isNull()) {
      ++it;
      continue;
    }
    bytes_ -= CostOf(it->second.image);
    uses_.erase(it->second.use);
    it = entries_.erase(it);
  }
}

bool PieceCache::StillWanted(const PieceKey& piece) const { return wanted_->Contains(piece); }

void PieceCache::Clear() {
  for (const PieceKey& piece : pending_) forgotten_.insert(piece);
  entries_.clear();
  uses_.clear();
  bytes_ = 0;
}

}  // namespace mapview
