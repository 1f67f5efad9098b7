// The tile cache: a list in order of use and an index into it.
#include "demo/tile_cache.h"

TileCache::Bytes TileCache::Find(const TileKey& key) {
  std::lock_guard lock(mutex_);
  const auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  order_.splice(order_.begin(), order_, found->second);
  return found->second->second;
}

void TileCache::Store(const TileKey& key, Bytes bytes) {
  if (!bytes || bytes->size() > capacity_) return;
  std::lock_guard lock(mutex_);
  if (const auto found = index_.find(key); found != index_.end()) {
    size_ -= found->second->second->size();
    order_.erase(found->second);
    index_.erase(found);
  }
  size_ += bytes->size();
  order_.emplace_front(key, std::move(bytes));
  index_[key] = order_.begin();
  while (size_ > capacity_) {
    size_ -= order_.back().second->size();
    index_.erase(order_.back().first);
    order_.pop_back();
  }
}

size_t TileCache::SizeBytes() const {
  std::lock_guard lock(mutex_);
  return size_;
}
