#include "mosaic/package_kind.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

#include "mosaic/parallel_tiles.h"
#include "platform/regular_file.h"

namespace {

enum class FileKind { kJpeg, kPng, kOther };

// The tile file's kind by its signature; a file of the blank tile's size is read whole to tell it.
FileKind KindOfFile(const std::string& path, const std::string& blankBytes) {
  OpenRefusal refusal = OpenRefusal::kNone;
  const OpenedFile file = OpenRegularFile(AT_FDCWD, path, Links::kFollow, kMaxTileFileBytes, refusal);
  if (!file.IsOpen()) return FileKind::kOther;
  const bool mayBeBlank = !blankBytes.empty() && file.Size() == blankBytes.size();
  std::string bytes(mayBeBlank ? blankBytes.size() : 8, '\0');
  const ssize_t got = ::pread(file.Fd(), bytes.data(), bytes.size(), 0);
  if (got < 0) return FileKind::kOther;
  bytes.resize(static_cast<size_t>(got));
  if (mayBeBlank && bytes == blankBytes) return FileKind::kOther;
  TileImageKind kind{};
  if (!TileImageKindOf(bytes, kind)) return FileKind::kOther;
  return kind == TileImageKind::kPng ? FileKind::kPng : FileKind::kJpeg;
}

}  // namespace

TileKindCount CountTileKinds(const MosaicLevels& levels, const std::string& blankBytes) {
  std::atomic<int64_t> jpeg{0}, png{0};
  for (const MosaicSource& level : levels) {
    for (int32_t y = level.minY; y <= level.maxY; ++y) {
      ParallelFor(static_cast<size_t>(level.Columns()), [&](size_t i) {
        const int32_t x = level.minX + static_cast<int32_t>(i);
        if (!level.Inside(x, y)) return;
        switch (KindOfFile(level.TilePath(x, y), blankBytes)) {
          case FileKind::kJpeg: ++jpeg; break;
          case FileKind::kPng: ++png; break;
          case FileKind::kOther: break;
        }
      }, kLoadingThreads);
    }
  }
  return {jpeg.load(), png.load()};
}

TileImageKind MostCommonKind(const TileKindCount& count) {
  return count.png > 0 && count.png >= count.jpeg ? TileImageKind::kPng : TileImageKind::kJpeg;
}
