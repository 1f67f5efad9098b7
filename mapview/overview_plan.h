// The overview pyramid of an area: pieces of level 3 and up, each a 256-pixel image of the
// 2^L by 2^L tiles below it, built bottom-up. A piece carries a signature of what it was built
// from (the sizes and times of its tiles, or its children's signatures), so a piece whose tiles
// changed is known to be stale and is built again; the others are kept from one opening to the
// next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mapview/view_geometry.h"

namespace mapview {

// Below this level the view decodes the tiles themselves, scaled down by the JPEG decoder.
inline constexpr int kFirstOverviewLevel = 3;

// The highest overview level of an area: its single piece holds the whole area.
int OverviewTopLevel(const CellRect& area);
PieceKey ParentOf(const PieceKey& piece);
// The children of a piece (one level down) that hold any of the area's tiles, in reading order.
std::vector<PieceKey> ChildrenOf(const PieceKey& piece, const CellRect& area);

// Visits every overview piece over the area once, children before their parent, nearby pieces
// together (a depth-first walk of the quadtree), so each parent can be built as soon as its
// children are and the coarse levels fill in while the walk goes on.
class PyramidWalk {
 public:
  explicit PyramidWalk(const CellRect& area);
  std::optional<PieceKey> Next();

 private:
  struct Frame {
    PieceKey piece;
    std::vector<PieceKey> children;
    size_t next = 0;
  };
  CellRect area_;
  std::vector<Frame> stack_;
};

// Signatures. Zero stands for a piece with no tiles under it, which is not stored.
uint64_t TileStamp(int64_t x, int64_t y, int64_t size, int64_t modifiedNanoseconds);
uint64_t CombinedStamp(uint64_t sum, uint64_t stamp);  // order does not matter for tiles
// A parent's signature from its children's, in the order ChildrenOf gives them.
uint64_t ParentStamp(const std::vector<uint64_t>& childStamps);

// The signature of a level-3 piece from the files now in the tile folder.
uint64_t FirstLevelStamp(const PieceKey& piece, const CellRect& area,
                         const std::string& tileFolder, int zoom);

}  // namespace mapview

namespace mapview {

// The images a view draws: below firstPieceLevel the tiles in view, each keyed by the level it is
// decoded at and its own column and row; from that level up the pieces in view. The viewer starts
// its overview pieces at kFirstOverviewLevel; a web map, whose every level is a tile of a lower
// zoom, starts them at 0.
std::vector<PieceKey> ImagesInView(const Viewport& view, const CellRect& area,
                                   int firstPieceLevel = kFirstOverviewLevel);
// For a pyramid whose every level is pieces: the pieces in view two and four levels above level
// (or the top one), coarsest first; asked for before the view's own, they cover it quickly
// while the finer images arrive.
std::vector<PieceKey> StandInsInView(const Viewport& view, const CellRect& area, int level);
// The tiles an image of ImagesInView covers, within the area.
CellRect TilesOfImage(const PieceKey& image, const CellRect& area, int firstPieceLevel = kFirstOverviewLevel);
// The next coarser image holding the same place, to draw while an image is loading; none above
// the top level.
std::optional<PieceKey> CoarserImage(const PieceKey& image, const CellRect& area,
                                     int firstPieceLevel = kFirstOverviewLevel);

}  // namespace mapview
