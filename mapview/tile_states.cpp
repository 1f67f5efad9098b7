// The per-tile states of an area and their counts, kept up to date with every change.
#include "mapview/tile_states.h"

#include <stdexcept>

namespace mapview {

TileStateGrid::TileStateGrid(const CellRect& area) : area_(area) {
  if (area.Count() > kMaxSurveyTiles) throw std::length_error("area too large to survey");
  cells_.assign(static_cast<size_t>(area.Count()), 0);
  counts_[static_cast<int>(TileState::kUnknown)] = area.Count();
}

TileState TileStateGrid::Shown(uint8_t cell) {
  if (cell & kOutsideBit) return TileState::kOutside;
  const bool damaged = (cell & kDamagedBit) != 0;
  switch (static_cast<FileState>(cell & kFileMask)) {
    case FileState::kPresent: return damaged ? TileState::kDamaged : TileState::kPresent;
    case FileState::kBlank: return damaged ? TileState::kDamaged : TileState::kBlank;
    case FileState::kMissing: return (cell & kFailedBit) ? TileState::kFailed : TileState::kMissing;
    default:
      if (cell & kFailedBit) return TileState::kFailed;
      return damaged ? TileState::kDamaged : TileState::kUnknown;
  }
}

bool TileStateGrid::Selectable(uint8_t cell) {
  const TileState shown = Shown(cell);
  return shown == TileState::kMissing || shown == TileState::kFailed || shown == TileState::kDamaged;
}

void TileStateGrid::SetOutside(const std::function<bool(int64_t x, int64_t y)>& outside) {
  for (int64_t y = area_.y0; y < area_.y1; ++y) {
    for (int64_t x = area_.x0; x < area_.x1; ++x) {
      uint8_t& cell = cells_[Index(x, y)];
      Replace(cell, outside(x, y) ? (cell | kOutsideBit) : (cell & ~kOutsideBit));
    }
  }
}

void TileStateGrid::Replace(uint8_t& cell, uint8_t next) {
  if ((next & kSelectedBit) && !Selectable(next)) next &= ~kSelectedBit;
  --counts_[static_cast<int>(Shown(cell))];
  ++counts_[static_cast<int>(Shown(next))];
  selected_ += ((next & kSelectedBit) ? 1 : 0) - ((cell & kSelectedBit) ? 1 : 0);
  cell = next;
}

void TileStateGrid::SetFile(int64_t x, int64_t y, FileState state) {
  uint8_t& cell = cells_[Index(x, y)];
  Replace(cell, static_cast<uint8_t>((cell & ~kFileMask) | static_cast<uint8_t>(state)));
}

void TileStateGrid::MarkUnseenMissing() {
  for (uint8_t& cell : cells_) {
    if ((cell & kFileMask) == 0) Replace(cell, static_cast<uint8_t>(cell | static_cast<uint8_t>(FileState::kMissing)));
  }
}

void TileStateGrid::ForgetFiles() {
  for (uint8_t& cell : cells_) Replace(cell, cell & ~kFileMask);
}

void TileStateGrid::SetListed(const std::vector<TileXY>& tiles, uint8_t bit, std::vector<TileXY>& listed) {
  for (const auto& [x, y] : listed) {
    uint8_t& cell = cells_[Index(x, y)];
    Replace(cell, cell & ~bit);
  }
  listed.clear();
  for (const auto& [x, y] : tiles) {
    if (!area_.Contains(x, y)) continue;
    uint8_t& cell = cells_[Index(x, y)];
    Replace(cell, cell | bit);
    listed.emplace_back(x, y);
  }
}

void TileStateGrid::SetListedFailed(const std::vector<TileXY>& tiles) { SetListed(tiles, kFailedBit, listedFailed_); }

void TileStateGrid::SetListedDamaged(const std::vector<TileXY>& tiles) { SetListed(tiles, kDamagedBit, listedDamaged_); }

void TileStateGrid::ForgetDamaged(int64_t x, int64_t y) {
  if (!area_.Contains(x, y)) return;
  uint8_t& cell = cells_[Index(x, y)];
  Replace(cell, cell & ~kDamagedBit);
}

void TileStateGrid::Toggle(int64_t x, int64_t y) {
  if (!area_.Contains(x, y)) return;
  uint8_t& cell = cells_[Index(x, y)];
  Replace(cell, cell ^ kSelectedBit);
}

void TileStateGrid::SelectIn(const CellRect& tiles) {
  const CellRect r = Intersection(tiles, area_);
  for (int64_t y = r.y0; y < r.y1; ++y) {
    for (int64_t x = r.x0; x < r.x1; ++x) {
      uint8_t& cell = cells_[Index(x, y)];
      Replace(cell, cell | kSelectedBit);
    }
  }
}

void TileStateGrid::SelectVerifyListed() {
  for (const auto& [x, y] : listedDamaged_) {
    uint8_t& cell = cells_[Index(x, y)];
    Replace(cell, cell | kSelectedBit);
  }
}

int64_t TileStateGrid::VerifyOutstandingCount() const {
  int64_t outstanding = 0;
  for (const auto& [x, y] : listedDamaged_) outstanding += Selectable(cells_[Index(x, y)]) ? 1 : 0;
  return outstanding;
}

void TileStateGrid::ClearSelection() {
  if (selected_ == 0) return;
  for (uint8_t& cell : cells_) cell &= ~kSelectedBit;
  selected_ = 0;
}

std::vector<TileXY> TileStateGrid::SelectedTiles() const {
  std::vector<TileXY> tiles;
  tiles.reserve(static_cast<size_t>(selected_));
  const int64_t columns = area_.x1 - area_.x0;
  for (size_t i = 0; i < cells_.size() && static_cast<int64_t>(tiles.size()) < selected_; ++i) {
    if (cells_[i] & kSelectedBit) {
      tiles.emplace_back(area_.x0 + static_cast<int64_t>(i) % columns, area_.y0 + static_cast<int64_t>(i) / columns);
    }
  }
  return tiles;
}

}  // namespace mapview
