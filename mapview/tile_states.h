// What each tile of a project's area is on disk: stored, blank (the blank tile the workers store
// for a tile the server does not have), missing, or listed in the failed-tile list; and which
// tiles the user selected to fetch again. One byte per tile, so the area is bounded.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "mapview/view_geometry.h"

namespace mapview {

// Areas above this many tiles are shown without being surveyed (a byte a tile stays under 64 MiB).
inline constexpr int64_t kMaxSurveyTiles = int64_t{1} << 26;

enum class FileState : uint8_t { kUnknown = 0, kPresent = 1, kBlank = 2, kMissing = 3 };
// What the view shows: a missing tile that the failed-tile list names is failed.
enum class TileState : uint8_t { kUnknown, kPresent, kBlank, kMissing, kFailed };
inline constexpr int kTileStateCount = 5;

using TileXY = std::pair<int64_t, int64_t>;

class TileStateGrid {
 public:
  // area must hold at most kMaxSurveyTiles tiles.
  explicit TileStateGrid(const CellRect& area);

  const CellRect& Area() const { return area_; }
  TileState At(int64_t x, int64_t y) const { return Shown(cells_[Index(x, y)]); }
  int64_t Count(TileState state) const { return counts_[static_cast<int>(state)]; }

  void SetFile(int64_t x, int64_t y, FileState state);
  // Every tile not yet seen is missing: the folder survey has ended.
  void MarkUnseenMissing();
  // Every tile's file state unknown again, before the folder is surveyed anew.
  void ForgetFiles();
  // The tiles of the failed-tile list, replacing the ones it named before (only those cells are
  // touched, so a list saved again and again costs its length, not the area's).
  void SetListedFailed(const std::vector<TileXY>& tiles);

  // Selection: only missing and failed tiles can be selected, and a tile that arrives leaves it.
  bool Selected(int64_t x, int64_t y) const { return (cells_[Index(x, y)] & kSelectedBit) != 0; }
  void Toggle(int64_t x, int64_t y);
  void SelectIn(const CellRect& tiles);
  void ClearSelection();
  int64_t SelectedCount() const { return selected_; }
  std::vector<TileXY> SelectedTiles() const;

 private:
  static constexpr uint8_t kFileMask = 0x07, kFailedBit = 0x08, kSelectedBit = 0x80;
  static TileState Shown(uint8_t cell);
  static bool Selectable(uint8_t cell);
  size_t Index(int64_t x, int64_t y) const {
    return static_cast<size_t>((y - area_.y0) * (area_.x1 - area_.x0) + (x - area_.x0));
  }
  void Replace(uint8_t& cell, uint8_t next);

  CellRect area_;
  std::vector<uint8_t> cells_;
  std::vector<TileXY> listedFailed_;
  int64_t counts_[kTileStateCount] = {};
  int64_t selected_ = 0;
};

}  // namespace mapview
