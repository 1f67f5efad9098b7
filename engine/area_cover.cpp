// The tiles of an area as row intervals per column, with running counts for sequence numbers.
#include "engine/area_cover.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

void SortAndMerge(std::vector<RowInterval>& column) {
  std::sort(column.begin(), column.end(), [](const RowInterval& a, const RowInterval& b) { return a.first < b.first; });
  std::vector<RowInterval> merged;
  for (const RowInterval& rows : column) {
    if (rows.last < rows.first) continue;
    if (!merged.empty() && int64_t{rows.first} <= int64_t{merged.back().last} + 1) {
      merged.back().last = std::max(merged.back().last, rows.last);
    } else {
      merged.push_back(rows);
    }
  }
  column.swap(merged);
}

int64_t TilesOf(const std::vector<RowInterval>& column) {
  int64_t tiles = 0;
  for (const RowInterval& rows : column) tiles += int64_t{rows.last} - rows.first + 1;
  return tiles;
}

// The intervals of a column up to row y, the one holding y ending at y.
int64_t TilesUpToRow(const std::vector<RowInterval>& column, int32_t y) {
  int64_t tiles = 0;
  for (const RowInterval& rows : column) {
    if (rows.first > y) break;
    tiles += int64_t{std::min(rows.last, y)} - rows.first + 1;
  }
  return tiles;
}

const std::vector<RowInterval> kNoRows;

}  // namespace

AreaCover::AreaCover(int32_t zoom, int32_t minX, std::vector<std::vector<RowInterval>> columns)
    : zoom_(zoom), minX_(minX), columns_(std::move(columns)) {
  for (auto& column : columns_) SortAndMerge(column);
  // Empty columns at either end are dropped, so the bounds are those of the tiles.
  const auto first = std::find_if(columns_.begin(), columns_.end(), [](const auto& c) { return !c.empty(); });
  if (first == columns_.end()) {
    columns_.clear();
    return;
  }
  minX_ += static_cast<int32_t>(std::distance(columns_.begin(), first));
  columns_.erase(columns_.begin(), first);
  while (columns_.back().empty()) columns_.pop_back();

  bounds_ = {minX_, columns_.front().front().first, static_cast<int32_t>(minX_ + int64_t(columns_.size()) - 1),
             columns_.front().back().last};
  int64_t tiles = 0;
  before_.reserve(columns_.size());
  for (const auto& column : columns_) {
    tiles += TilesOf(column);
    before_.push_back(tiles);
    if (column.empty()) continue;
    bounds_.MinY = std::min(bounds_.MinY, column.front().first);
    bounds_.MaxY = std::max(bounds_.MaxY, column.back().last);
  }
}

const std::vector<RowInterval>& AreaCover::Column(int32_t x) const {
  if (columns_.empty() || x < bounds_.MinX || x > bounds_.MaxX) return kNoRows;
  return columns_[static_cast<size_t>(int64_t{x} - minX_)];
}

bool AreaCover::Contains(int32_t x, int32_t y) const {
  const auto& column = Column(x);
  const auto at = std::upper_bound(column.begin(), column.end(), y,
                                   [](int32_t row, const RowInterval& rows) { return row < rows.first; });
  return at != column.begin() && y <= std::prev(at)->last;
}

int64_t AreaCover::TilesUpTo(int32_t x, int32_t y) const {
  if (columns_.empty() || x < bounds_.MinX) return 0;
  if (x > bounds_.MaxX) return Tiles();
  const auto i = static_cast<size_t>(int64_t{x} - minX_);
  return (i == 0 ? 0 : before_[i - 1]) + TilesUpToRow(columns_[i], y);
}

AreaCover AreaCover::ClippedTo(const TileRange& range) const {
  std::vector<std::vector<RowInterval>> clipped;
  if (!columns_.empty() && range.MinX <= range.MaxX) {
    const int32_t from = std::max(range.MinX, bounds_.MinX), to = std::min(range.MaxX, bounds_.MaxX);
    for (int64_t x = from; x <= to; ++x) {
      std::vector<RowInterval> rows;
      for (const RowInterval& r : Column(static_cast<int32_t>(x))) {
        const RowInterval inside{std::max(r.first, range.MinY), std::min(r.last, range.MaxY)};
        if (inside.first <= inside.last) rows.push_back(inside);
      }
      clipped.push_back(std::move(rows));
    }
    return AreaCover(zoom_, from, std::move(clipped));
  }
  return AreaCover(zoom_, 0, {});
}
