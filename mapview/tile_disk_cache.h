// Tiles fetched while browsing a map, kept on disk so that the next look at the same place needs
// no download: one file a tile ("Z_X_Y.tile") in a folder of the tile server, the total size held
// within a bound by removing the least recently used tiles first. The file times record the use,
// so the order survives a restart; other processes may share or clean the folder meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace mapview {

inline constexpr uint64_t kDefaultTileCacheBytes = 256ull * 1024 * 1024;

// The folder of a tile server's cache: $XDG_CACHE_HOME/quillmere/tiles/<16 hex digits of a 64-bit
// FNV-1a hash of serverSetting>/ ($HOME/.cache when XDG_CACHE_HOME is unset or not absolute).
// Ends with '/'. Not created here.
std::string TileCacheFolder(const std::string& serverSetting);

// Safe to use from several threads at once.
class TileDiskCache {
 public:
  // Creates the folder (and parents) if needed. At the first use, indexes the tile files already
  // there and removes the least recently used until the total is within maxBytes. A folder that
  // cannot be created leaves a cache that stores nothing.
  TileDiskCache(std::string folder, uint64_t maxBytes);

  // The stored bytes of the tile, or nullopt; a hit makes the tile the most recently used.
  std::optional<std::string> Get(int zoom, int64_t x, int64_t y);
  // Stores the bytes (not when larger than the bound) and trims the cache to the bound. A tile
  // that cannot be written is just not stored.
  void Put(int zoom, int64_t x, int64_t y, const std::string& bytes);
  uint64_t Bytes();  // total size of the cached tiles as indexed
  size_t Count();    // number of cached tiles

 private:
  struct Key {
    int zoom = 0;
    int64_t x = 0, y = 0;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const;
  };
  struct Entry {
    Key key;
    uint64_t size = 0;
  };
  using Order = std::list<Entry>;  // least recently used first

  std::string PathOf(const Key& key) const;
  void LoadIndex();
  void Index(const Key& key, uint64_t size);  // adds or replaces as the most recently used
  void Drop(Order::iterator entry);           // from the index only
  void Remove(Order::iterator entry);         // the file and its entry
  void TrimLocked();
  void EnsureIndexedLocked();

  const std::string folder_;  // ends with '/'
  const uint64_t maxBytes_;
  bool usable_ = false;  // the folder exists
  bool indexed_ = false;
  std::mutex mutex_;
  Order order_;
  std::unordered_map<Key, Order::iterator, KeyHash> entries_;
  uint64_t bytes_ = 0;
};

}  // namespace mapview
