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

#include "platform/file_ops.h"

namespace mapview {

namespace {

std::string UserCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache == '/') return qm::WithTrailingSeparator(cache);
  const char* home = std::getenv("HOME");
  return qm::WithTrailingSeparator(home && *home ? home : "/tmp") + ".cache/";
}

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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[64 * 1024];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
  if (got == 0) ::futimens(fd, nullptr);  // a failure only costs the order after a restart
  ::close(fd);
  if (got < 0) return std::nullopt;
  return bytes;
}

// Writes bytes to a new file named prefix plus six random characters; its path, or empty.
std::string WriteTemporary(const std::string& prefix, const std::string& bytes) {
  std::string path = prefix + "XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    ok = wrote > 0;
    if (ok) done += static_cast<size_t>(wrote);
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok) ::unlink(path.c_str());
  return ok ? path : std::string();
}

}  // namespace

std::string TileCacheFolder(const std::string& serverSetting) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016" PRIx64, Fnv1a64(serverSetting));
  return UserCacheFolder() + "quillmere/tiles/" + hash + "/";
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
  if (bytes.size() > maxBytes_) {
    // Not kept, and neither is an older content of the tile that it replaces.
    const std::lock_guard lock(mutex_);
    EnsureIndexedLocked();
    if (const auto it = entries_.find(key); it != entries_.end()) Remove(it->second);
    return;
  }
  {
    // Indexing removes leftover temporary files, so it comes before this write makes one.
    const std::lock_guard lock(mutex_);
    EnsureIndexedLocked();
  }
  // The bytes are written outside the lock so that other threads go on meanwhile; the rename
  // under it keeps the index in step with the folder.
  const std::string temporary = WriteTemporary(folder_ + '.' + TileFileName(zoom, x, y) + '.', bytes);
  if (temporary.empty()) return;
  const std::lock_guard lock(mutex_);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return;
  }
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
