// A bounded, thread-safe cache of encoded tiles: the least recently used go first.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "demo/tile_request.h"

class TileCache {
 public:
  using Bytes = std::shared_ptr<const std::string>;

  explicit TileCache(size_t capacityBytes) : capacity_(capacityBytes) {}

  Bytes Find(const TileKey& key);
  void Store(const TileKey& key, Bytes bytes);
  size_t SizeBytes() const;

 private:
  struct KeyHash {
    size_t operator()(const TileKey& k) const noexcept {
      return (static_cast<size_t>(k.zoom) * 0x9E3779B97F4A7C15ull) ^ (static_cast<size_t>(k.x) << 20) ^
             static_cast<size_t>(k.y);
    }
  };
  using Order = std::list<std::pair<TileKey, Bytes>>;  // most recently used first

  size_t capacity_;
  mutable std::mutex mutex_;
  Order order_;
  std::unordered_map<TileKey, Order::iterator, KeyHash> index_;
  size_t size_ = 0;
};
