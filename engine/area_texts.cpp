// Tile range to field texts.
#include "engine/area_texts.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/Commonfunc.h"

namespace {

constexpr double kInset = 1.0 / 1000;  // of a tile
constexpr double kLatitudeLimit = 85;  // what the latitude fields accept

// Fixed-point text with the decimals that resolve a thousandth of a tile at this zoom (three
// more than a tile's width needs), without the C locale's say on the decimal point.
std::string DegreesText(double degrees, int zoom) {
  const double tileDegrees = 360.0 / std::ldexp(1.0, zoom);
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(tileDegrees * kInset))) + 1, 1, 15);
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(text, end) : std::to_string(degrees);
}

}  // namespace

RowSpan NameableRows(int zoom) {
  const auto z = static_cast<uint8_t>(zoom);
  return {LatToTileY(kLatitudeLimit, z), LatToTileY(-kLatitudeLimit, z)};
}

AreaTexts TextsForTiles(int zoom, int64_t minX, int64_t minY, int64_t maxX, int64_t maxY) {
  const auto z = static_cast<uint8_t>(zoom);
  const RowSpan rows = NameableRows(zoom);
  minY = std::clamp(minY, rows.first, rows.last);
  maxY = std::clamp(maxY, rows.first, rows.last);
  const double top = std::min(TileYToLat(static_cast<double>(minY) + kInset, z), kLatitudeLimit);
  const double bottom = std::max(TileYToLat(static_cast<double>(maxY) + 1 - kInset, z), -kLatitudeLimit);
  return {DegreesText(TileXToLon(static_cast<double>(minX) + kInset, z), zoom),
          DegreesText(TileXToLon(static_cast<double>(maxX) + 1 - kInset, z), zoom), DegreesText(top, zoom),
          DegreesText(bottom, zoom), std::to_string(zoom)};
}
