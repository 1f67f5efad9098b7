// A tile's validators in its file time and an extended attribute.
#include "platform/tile_validators.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <array>
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
  return !etag.empty() && etag.size() <= kMaxEtagBytes && etag.find_first_of("\r\n") == std::string::npos;
}

void KeepTileValidators(const std::string& path, const std::string& etag, const std::string& lastModified) {
  if (UsableEtag(etag)) {
    // ENOTSUP (and any other refusal) leaves the tile without its ETag: a refresh then asks by
    // time alone.
    setxattr(path.c_str(), kEtagAttribute, etag.data(), etag.size(), 0);
  }
  if (const std::optional<std::time_t> when = ParseHttpDate(lastModified)) SetFileTime(path, *when);
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
