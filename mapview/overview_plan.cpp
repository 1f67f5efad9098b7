// Pyramid walk and piece signatures.
#include "mapview/overview_plan.h"

#include <sys/stat.h>

#include <algorithm>

#include "engine/tile_source.h"

namespace mapview {

namespace {

uint64_t Mix(uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  value ^= value >> 33;
  return value;
}

}  // namespace

int OverviewTopLevel(const CellRect& area) { return std::max(TopLevel(area), kFirstOverviewLevel); }

PieceKey ParentOf(const PieceKey& piece) { return {piece.level + 1, piece.x >> 1, piece.y >> 1}; }

std::vector<PieceKey> ChildrenOf(const PieceKey& piece, const CellRect& area) {
  std::vector<PieceKey> children;
  const CellRect over = PiecesOver(area, piece.level - 1);
  for (int64_t dy = 0; dy < 2; ++dy) {
    for (int64_t dx = 0; dx < 2; ++dx) {
      const PieceKey child{piece.level - 1, piece.x * 2 + dx, piece.y * 2 + dy};
      if (over.Contains(child.x, child.y)) children.push_back(child);
    }
  }
  return children;
}

PyramidWalk::PyramidWalk(const CellRect& area) : area_(area) {
  if (area.Empty()) return;
  const int top = OverviewTopLevel(area);
  const CellRect roots = PiecesOver(area, top);
  // Pushed in reverse so the first root is walked first.
  for (int64_t y = roots.y1 - 1; y >= roots.y0; --y) {
    for (int64_t x = roots.x1 - 1; x >= roots.x0; --x) {
      const PieceKey root{top, x, y};
      stack_.push_back({root, root.level > kFirstOverviewLevel ? ChildrenOf(root, area) : std::vector<PieceKey>{}});
    }
  }
}

std::optional<PieceKey> PyramidWalk::Next() {
  while (!stack_.empty()) {
    Frame& frame = stack_.back();
    if (frame.next < frame.children.size()) {
      const PieceKey child = frame.children[frame.next++];
      stack_.push_back({child, child.level > kFirstOverviewLevel ? ChildrenOf(child, area_) : std::vector<PieceKey>{}});
      continue;
    }
    const PieceKey done = frame.piece;
    stack_.pop_back();
    return done;
  }
  return std::nullopt;
}

uint64_t TileStamp(int64_t x, int64_t y, int64_t size, int64_t modifiedNanoseconds) {
  return Mix(Mix(Mix(static_cast<uint64_t>(x)) ^ static_cast<uint64_t>(y)) ^ static_cast<uint64_t>(size) ^
             Mix(static_cast<uint64_t>(modifiedNanoseconds)));
}

uint64_t CombinedStamp(uint64_t sum, uint64_t stamp) { return sum + stamp; }

uint64_t ParentStamp(const std::vector<uint64_t>& childStamps) {
  uint64_t sum = 0;
  for (size_t i = 0; i < childStamps.size(); ++i) {
    if (childStamps[i] != 0) sum += Mix(childStamps[i] + i);
  }
  return sum;
}

uint64_t FirstLevelStamp(const PieceKey& piece, const CellRect& area, const std::string& tileFolder, int zoom) {
  const CellRect tiles = TilesOf(piece, area);
  uint64_t sum = 0;
  for (int64_t y = tiles.y0; y < tiles.y1; ++y) {
    for (int64_t x = tiles.x0; x < tiles.x1; ++x) {
      const std::string path =
          tileFolder + SatelliteTileFileName(zoom, static_cast<int32_t>(x), static_cast<int32_t>(y));
      struct stat info {};
      if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
      const int64_t modified = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
      sum = CombinedStamp(sum, TileStamp(x, y, info.st_size, modified));
    }
  }
  return sum;
}

}  // namespace mapview

namespace mapview {

std::vector<PieceKey> ImagesInView(const Viewport& view, const CellRect& area, int firstPieceLevel) {
  const int level = DetailLevel(view.pixelsPerTile, std::max(TopLevel(area), firstPieceLevel));
  const CellRect cells = VisiblePieces(view, area, level < firstPieceLevel ? 0 : level);
  std::vector<PieceKey> images;
  images.reserve(static_cast<size_t>(cells.Count()));
  for (int64_t y = cells.y0; y < cells.y1; ++y) {
    for (int64_t x = cells.x0; x < cells.x1; ++x) images.push_back({level, x, y});
  }
  return images;
}

std::vector<PieceKey> StandInsInView(const Viewport& view, const CellRect& area, int level) {
  const int top = TopLevel(area);
  std::vector<PieceKey> standIns;
  for (int up = std::min(level + 4, top); up > level; up -= 2) {
    const CellRect cells = VisiblePieces(view, area, up);
    for (int64_t y = cells.y0; y < cells.y1; ++y) {
      for (int64_t x = cells.x0; x < cells.x1; ++x) standIns.push_back({up, x, y});
    }
  }
  return standIns;
}

CellRect TilesOfImage(const PieceKey& image, const CellRect& area, int firstPieceLevel) {
  if (image.level < firstPieceLevel) return Intersection({image.x, image.y, image.x + 1, image.y + 1}, area);
  return TilesOf(image, area);
}

std::optional<PieceKey> CoarserImage(const PieceKey& image, const CellRect& area, int firstPieceLevel) {
  if (image.level < firstPieceLevel) {
    return PieceKey{firstPieceLevel, image.x >> firstPieceLevel, image.y >> firstPieceLevel};
  }
  if (image.level >= std::max(TopLevel(area), firstPieceLevel)) return std::nullopt;
  return ParentOf(image);
}

}  // namespace mapview
