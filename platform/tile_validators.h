// What a stored tile keeps of its answer so that it can be asked for again conditionally: the
// server's Last-Modified as the file's time, and its ETag in an extended attribute of the file.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

namespace qm {

// The extended attribute that holds a tile's ETag.
inline constexpr const char* kEtagAttribute = "user.quillmere.etag";
// An ETag longer than this is not kept: no real server sends one.
inline constexpr size_t kMaxEtagBytes = 1024;

// Whether an ETag may be kept and sent back: an entity-tag as HTTP writes it (W/ at most, then a
// quoted string without quotes, blanks or control characters inside), at most kMaxEtagBytes.
bool UsableEtag(const std::string& etag);

struct TileValidators {
  std::optional<std::string> etag;  // none when the file keeps none (or its file system cannot)
  std::optional<std::time_t> time;  // the file's modification time; none when it cannot be read
};

// Sets the file's time from lastModified (an HTTP date) and keeps etag beside it. Either may be
// empty; whatever cannot be kept (a file system without extended attributes, a date that does
// not parse, an ETag that UsableEtag refuses) is passed over quietly, as the tile itself is stored
// all the same. A date after now is taken as now: a tile from the future would never count as old.
void KeepTileValidators(const std::string& path, const std::string& etag, const std::string& lastModified,
                        std::time_t now = std::time(nullptr));

TileValidators ReadTileValidators(const std::string& path);

}  // namespace qm
