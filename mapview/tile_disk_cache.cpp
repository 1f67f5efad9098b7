// Tiles of a map view kept on disk within a size bound, least recently used out first.
#include "mapview/tile_disk_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"

namespace mapview {

namespace {

uint64_t Fnv1a64(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

std::string TileFileName(int zoom, int64_t x, int64_t y) {
  return std::to_string(zoom) + '_' + std::to_string(x) + '_' + std::to_string(y) + ".tile";
}

// Accepts exactly the names TileFileName gives, so that no two files stand for one tile.
bool ParseTileFileName(std::string_view name, int& zoom, int64_t& x, int64_t& y) {
  const char* p = name.data();
  const char* const end = p + name.size();
  const auto number = [&](auto& value, char after) {
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc() || next == end || *next != after) return false;
    p = next + 1;
    return true;
  };
  if (!number(zoom, '_') || !number(x, '_') || !number(y, '.')) return false;
  return std::string_view(p, end - p) == "tile" && TileFileName(zoom, x, y) == name;
}

bool IsTileFileName(std::string_view name) {
  int zoom = 0;
  int64_t x = 0, y = 0;
  return ParseTileFileName(name, zoom, x, y);
}

// The whole content of a file, marking it as just used; nullopt when it cannot be read.
std::optional<std::string> ReadAndTouch(const std::string& path) {
  try {
    std::string bytes = qm::ReadWholeFile(path);
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);  // a failure only costs the order after a restart
    return bytes;
  } catch (const qm::FileError&) {
    return std::nullopt;
  }
}

}  // namespace

std::string TileCacheFolder(const std::string& serverSetting) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016" PRIx64, Fnv1a64(serverSetting));
  return qm::UserCacheFolder() + "quillmere/tiles/" + hash + "/";
}

size_t TileDiskCache::KeyHash::operator()(const Key& k) const {
  return std::hash<int64_t>()((k.x * 0x9E3779B97F4A7C15ULL) ^ (k.y << 6) ^ k.zoom);
}

TileDiskCache::TileDiskCache(std::string folder, uint64_t maxBytes)
    : folder_(qm::WithTrailingSeparator(folder)), maxBytes_(maxBytes) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  usable_ = std::filesystem::is_directory(folder_, error);
}

// The folder is listed at the first use rather than when the cache is made: a full cache holds
// tens of thousands of files, and the first use comes from a loader thread, not the window's.
void TileDiskCache::EnsureIndexedLocked() {
  if (indexed_ || !usable_) return;
  indexed_ = true;
  LoadIndex();
  TrimLocked();
}

std::string TileDiskCache::PathOf(const Key& key) const {
  return folder_ + TileFileName(key.zoom, key.x, key.y);
}

// Indexes the tile files by their modification times, oldest first; the temporary files that
// interrupted writes left behind (".NAME.XXXXXX") go, any other file is left alone.
void TileDiskCache::LoadIndex() {
  qm::RemoveStaleTemporaryFilesIn(folder_, IsTileFileName);
  struct Found {
    std::tuple<time_t, long, std::string> order;  // mtime seconds, nanoseconds, name
    Key key;
    uint64_t size;
  };
  std::vector<Found> found;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), ::closedir);
  if (!dir) return;
  while (const dirent* item = ::readdir(dir.get())) {
    Key key;
    struct stat st {};
    if (!ParseTileFileName(item->d_name, key.zoom, key.x, key.y)) continue;
    if (::fstatat(::dirfd(dir.get()), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    found.push_back({{st.st_mtim.tv_sec, st.st_mtim.tv_nsec, item->d_name}, key, size});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.order < b.order; });
  for (const Found& tile : found) Index(tile.key, tile.size);
}

void TileDiskCache::Index(const Key& key, uint64_t size) {
  const auto it = entries_.find(key);
  if (it == entries_.end()) {
    entries_.emplace(key, order_.insert(order_.end(), Entry{key, size}));
  } else {
    bytes_ -= it->second->size;
    it->second->size = size;
    order_.splice(order_.end(), order_, it->second);
  }
  bytes_ += size;
}

void TileDiskCache::Drop(Order::iterator entry) {
  bytes_ -= entry->size;
  entries_.erase(entry->key);
  order_.erase(entry);
}

void TileDiskCache::Remove(Order::iterator entry) {
  ::unlink(PathOf(entry->key).c_str());  // already gone when another process removed it
  Drop(entry);
}

void TileDiskCache::TrimLocked() {
  while (bytes_ > maxBytes_ && !order_.empty()) Remove(order_.begin());
}

std::optional<std::string> TileDiskCache::Get(int zoom, int64_t x, int64_t y) {
  const std::lock_guard lock(mutex_);
  EnsureIndexedLocked();
  const auto it = entries_.find(Key{zoom, x, y});
  if (it == entries_.end()) return std::nullopt;
  // Read under the lock: a tile is small, and no other thread removes the file meanwhile.
  const Order::iterator entry = it->second;
  std::optional<std::string> bytes = ReadAndTouch(PathOf(entry->key));
  if (!bytes) {
    Drop(entry);
    return std::nullopt;
  }
  // Another process may have replaced the file: the index takes the size found.
  Index(Key{zoom, x, y}, bytes->size());
  TrimLocked();
  return bytes;
}

void TileDiskCache::Put(int zoom, int64_t x, int64_t y, const std::string& bytes) {
  if (!usable_) return;
  const Key key{zoom, x, y};
  const std::string path = PathOf(key);
  {
    const std::lock_guard lock(mutex_);
    EnsureIndexedLocked();  // indexing removes leftover temporary files: before this write makes one
    if (bytes.size() > maxBytes_) {
      // Not kept, and neither is an older content of the tile that it replaces.
      if (const auto it = entries_.find(key); it != entries_.end()) Remove(it->second);
      return;
    }
  }
  // The bytes are written outside the lock so that other threads go on meanwhile; the file gets
  // its name only once complete.
  try {
    qm::WriteFileAtomicUnflushed(path, bytes);
  } catch (const qm::FileError&) {
    return;  // a tile that cannot be kept is fetched again next time
  }
  const std::lock_guard lock(mutex_);
  Index(key, bytes.size());
  TrimLocked();
}

uint64_t TileDiskCache::Bytes() {
  const std::lock_guard lock(mutex_);
  EnsureIndexedLocked();
  return bytes_;
}

size_t TileDiskCache::Count() {
  const std::lock_guard lock(mutex_);
  EnsureIndexedLocked();
  return entries_.size();
}

}  // namespace mapview
