// Level areas and the choice of the level a view shows.
#include "mapview/level_view.h"

#include <cmath>

#include "platform/file_ops.h"

namespace mapview {

std::vector<SetLevel> SetLevels(const LevelSet& set, const std::string& setFile) {
  std::vector<SetLevel> levels;
  for (int zoom = set.zooms.first; zoom <= set.zooms.last; ++zoom) {
    const std::string file = qm::ExtractFilePath(setFile) + LevelTaskName(set.TaskName, zoom);
    levels.push_back({file, qm::FileExists(file) ? ReadProjectArea(file) : PlannedLevelArea(set, setFile, zoom)});
  }
  return levels;
}

Viewport ViewAtZoom(const Viewport& view, int fromZoom, int toZoom) {
  const double factor = std::ldexp(1.0, toZoom - fromZoom);
  Viewport scaled = view;
  scaled.centerX *= factor;
  scaled.centerY *= factor;
  scaled.pixelsPerTile /= factor;
  return scaled;
}

int NaturalZoom(const Viewport& view, int zoom) {
  return zoom + static_cast<int>(std::floor(std::log2(view.pixelsPerTile / kTilePixels) + 0.5));
}

CellRect TilesInView(const Viewport& view, const CellRect& area) {
  const CellRect seen{static_cast<int64_t>(std::floor(view.TileX(0))), static_cast<int64_t>(std::floor(view.TileY(0))),
                      static_cast<int64_t>(std::floor(view.TileX(view.width))) + 1,
                      static_cast<int64_t>(std::floor(view.TileY(view.height))) + 1};
  return Intersection(seen, area);
}

double StoredShare(const TileStateGrid* states, const CellRect& tiles) {
  if (tiles.Empty()) return 0;
  if (!states) return 1;
  int64_t stored = 0;
  for (int64_t y = tiles.y0; y < tiles.y1; ++y) {
    for (int64_t x = tiles.x0; x < tiles.x1; ++x) {
      const TileState state = states->At(x, y);
      stored += state == TileState::kPresent || state == TileState::kBlank || state == TileState::kUnknown ||
                state == TileState::kOutside;
    }
  }
  return static_cast<double>(stored) / static_cast<double>(tiles.Count());
}

size_t BestLevel(const std::vector<LevelCoverage>& levels) {
  size_t best = 0;
  for (size_t i = 1; i < levels.size(); ++i) {
    const LevelCoverage& a = levels[i];
    const LevelCoverage& b = levels[best];
    if (a.share > b.share || (a.share == b.share && a.zoom > b.zoom)) best = i;
  }
  return best;
}

}  // namespace mapview
