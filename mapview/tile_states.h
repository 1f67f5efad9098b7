// What each tile of a project's area is on disk: stored, blank (the blank tile the workers store
// for a tile the server does not have), missing, listed in the failed-tile list, or stored but
// found damaged by a verify; which tiles lie outside a shaped area; and which tiles the user
// selected to fetch again. One byte per tile, so the area is bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "mapview/view_geometry.h"

namespace mapview {

// Areas above this many tiles are shown without being surveyed (a byte a tile stays under 64 MiB).
inline constexpr int64_t kMaxSurveyTiles = int64_t{1} << 26;

enum class FileState : uint8_t { kUnknown = 0, kPresent = 1, kBlank = 2, kMissing = 3 };
// What the view shows: a missing tile that the failed-tile list names is failed; a stored tile
// that the verify list names is damaged (a missing one it names stays missing or failed). A tile
// outside a shaped area is outside whatever its file.
enum class TileState : uint8_t { kUnknown, kPresent, kBlank, kMissing, kFailed, kDamaged, kOutside };
inline constexpr int kTileStateCount = 7;

using TileXY = std::pair<int64_t, int64_t>;

class TileStateGrid {
 public:
  // area must hold at most kMaxSurveyTiles tiles.
  explicit TileStateGrid(const CellRect& area);

  const CellRect& Area() const { return area_; }
  TileState At(int64_t x, int64_t y) const { return Shown(cells_[Index(x, y)]); }
  int64_t Count(TileState state) const { return counts_[static_cast<int>(state)]; }
  // Tiles of the rectangle that lie outside the task's shaped area: never marked, counted or
  // selected. Set once, before the survey.
  void SetOutside(const std::function<bool(int64_t x, int64_t y)>& outside);

  void SetFile(int64_t x, int64_t y, FileState state);
  // Every tile not yet seen is missing: the folder survey has ended.
  void MarkUnseenMissing();
  // Every tile's file state unknown again, before the folder is surveyed anew.
  void ForgetFiles();
  // The tiles of the failed-tile list, replacing the ones it named before (only those cells are
  // touched, so a list saved again and again costs its length, not the area's).
  void SetListedFailed(const std::vector<TileXY>& tiles);
  // The tiles of the verify list, in the same way.
  void SetListedDamaged(const std::vector<TileXY>& tiles);
  // A tile written again since the verify is no longer taken as damaged.
  void ForgetDamaged(int64_t x, int64_t y);
  int64_t VerifyListedCount() const { return static_cast<int64_t>(listedDamaged_.size()); }
  // The verify list's tiles that are still damaged or missing: those a fetch could still mend.
  int64_t VerifyOutstandingCount() const;

  // Selection: only missing, failed and damaged tiles can be selected, and a tile that arrives
  // leaves it.
  bool Selected(int64_t x, int64_t y) const { return (cells_[Index(x, y)] & kSelectedBit) != 0; }
  void Toggle(int64_t x, int64_t y);
  void SelectIn(const CellRect& tiles);
  // The verify list's tiles that are still damaged or missing, added to the selection.
  void SelectVerifyListed();
  void ClearSelection();
  int64_t SelectedCount() const { return selected_; }
  std::vector<TileXY> SelectedTiles() const;

 private:
  static constexpr uint8_t kFileMask = 0x07, kFailedBit = 0x08, kDamagedBit = 0x10, kOutsideBit = 0x40,
                           kSelectedBit = 0x80;
  static TileState Shown(uint8_t cell);
  static bool Selectable(uint8_t cell);
  size_t Index(int64_t x, int64_t y) const {
    return static_cast<size_t>((y - area_.y0) * (area_.x1 - area_.x0) + (x - area_.x0));
  }
  void Replace(uint8_t& cell, uint8_t next);
  // Sets bit on the listed tiles of the area, taking it off those listed before.
  void SetListed(const std::vector<TileXY>& tiles, uint8_t bit, std::vector<TileXY>& listed);

  CellRect area_;
  std::vector<uint8_t> cells_;
  std::vector<TileXY> listedFailed_;
  std::vector<TileXY> listedDamaged_;
  int64_t counts_[kTileStateCount] = {};
  int64_t selected_ = 0;
};

}  // namespace mapview
