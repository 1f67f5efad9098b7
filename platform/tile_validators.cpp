// A tile's validators in its file time and an extended attribute.
#include "platform/tile_validators.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "platform/http_date.h"

namespace qm {

namespace {

void SetFileTime(const std::string& path, std::time_t time) {
  const timespec times[2] = {{0, UTIME_OMIT}, {time, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace

bool UsableEtag(const std::string& etag) {
  std::string_view tag = etag;
  if (tag.size() > kMaxEtagBytes) return false;
  if (tag.starts_with("W/")) tag.remove_prefix(2);
  if (tag.size() < 2 || tag.front() != '"' || tag.back() != '"') return false;
  tag = tag.substr(1, tag.size() - 2);
  return std::all_of(tag.begin(), tag.end(), [](unsigned char c) { return c > 0x20 && c != '"' && c != 0x7F; });
}

void KeepTileValidators(const std::string& path, const std::string& etag, const std::string& lastModified,
                        std::time_t now) {
  if (UsableEtag(etag)) {
    // ENOTSUP (and any other refusal) leaves the tile without its ETag: a refresh then asks by
    // time alone.
    setxattr(path.c_str(), kEtagAttribute, etag.data(), etag.size(), 0);
  }
  if (const std::optional<std::time_t> when = ParseHttpDate(lastModified)) SetFileTime(path, std::min(*when, now));
}

TileValidators ReadTileValidators(const std::string& path) {
  TileValidators validators;
  std::array<char, kMaxEtagBytes> value{};
  const ssize_t size = getxattr(path.c_str(), kEtagAttribute, value.data(), value.size());
  // A value set by other means that could not be sent back is no ETag of this tile.
  if (size > 0) {
    std::string etag(value.data(), static_cast<size_t>(size));
    if (UsableEtag(etag)) validators.etag = std::move(etag);
  }
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) validators.time = info.st_mtim.tv_sec;
  return validators;
}

}  // namespace qm
