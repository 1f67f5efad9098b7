// Reading and checking the typed area, and estimating a download of it without building a task.
#include "engine/area_input.h"

#include <algorithm>
#include <cmath>

#include "engine/Commonfunc.h"
#include "engine/Unitclasstask.h"
#include "engine/task_files.h"
#include "platform/text_format.h"

namespace {

constexpr double kTilesPerSecond = 8;
// Every tile list line holds four edges of exactly this width (coordinates stay below 1000).
constexpr int64_t kEdgeWidth = 20;

int64_t DecimalDigits(int64_t value) {
  int64_t digits = 1;
  for (; value >= 10; value /= 10) ++digits;
  return digits;
}

// The sum of the decimal digit counts of every integer from first to last (both >= 0).
int64_t DigitsInRange(int64_t first, int64_t last) {
  int64_t total = 0;
  for (int64_t low = 0, high = 9, digits = 1; low <= last; low = high + 1, high = high * 10 + 9, ++digits) {
    const int64_t from = std::max(first, low);
    const int64_t to = std::min(last, high);
    if (from <= to) total += (to - from + 1) * digits;
  }
  return total;
}

// "kv_" x "_" y "_" zoom ".jpg: " west " " east " " north " " south CR LF, after the header.
int64_t TileListBytes(int64_t minX, int64_t maxX, int64_t minY, int64_t maxY, int zoom) {
  const int64_t columns = maxX - minX + 1;
  const int64_t rows = maxY - minY + 1;
  const int64_t fixedPerLine = 3 + 1 + 1 + DecimalDigits(zoom) + 6 + 4 * kEdgeWidth + 3 + 2;
  return static_cast<int64_t>(kTileListHeader.size()) + 2 + columns * rows * fixedPerLine +
         rows * DigitsInRange(minX, maxX) + columns * DigitsInRange(minY, maxY);
}

}  // namespace

std::optional<double> CoordinateFromText(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  return qm::StrictNumberFromText(text);
}

std::optional<std::string> RectangleError(const Rectangle& r) {
  if (r.left < -180 || r.left > 180) return "Left Longitude should be between -180 and 180.";
  if (r.right < -180 || r.right > 180) return "Right Longitude should be between -180 and 180.";
  if (r.top < -85 || r.top > 85) return "Top Latitude should be between -85 and 85.";
  if (r.bottom < -85 || r.bottom > 85) return "Bottom Latitude should be between -85 and 85.";
  if (r.left > r.right) return "Left Longitude should less than Right Longitude!";
  if (r.top < r.bottom) return "Bottom Latitude should less than Top Latitude!";
  return std::nullopt;
}

AreaEstimateOrReason EstimateArea(const std::string& left, const std::string& right, const std::string& top,
                                  const std::string& bottom, const std::string& zoomText) {
  const auto zoom = qm::IntegerFromText(zoomText);
  if (!zoom) return {std::nullopt, "The zoom level is not a number."};
  if (!IsGridZoom(*zoom)) return {std::nullopt, ZoomOutsideGridText(*zoom)};
  const auto l = CoordinateFromText(left), r = CoordinateFromText(right);
  const auto t = CoordinateFromText(top), b = CoordinateFromText(bottom);
  if (!l || !r || !t || !b) return {std::nullopt, "Type the four edges of the area in decimal degrees."};
  const Rectangle area{*l, *r, *t, *b};
  if (const auto error = RectangleError(area)) return {std::nullopt, *error};

  const auto z = static_cast<uint8_t>(*zoom);
  const int64_t minX = LonToTileX(area.left, z), maxX = LonToTileX(area.right, z);
  const int64_t northRow = LatToTileY(area.top, z), southRow = LatToTileY(area.bottom, z);
  const int64_t minY = std::min(northRow, southRow), maxY = std::max(northRow, southRow);
  AreaEstimate e{minX, maxX, minY, maxY};
  e.columns = maxX - minX + 1;
  e.rows = maxY - minY + 1;
  e.tiles = e.columns * e.rows;
  e.secondsAtFullSpeed = static_cast<double>(e.tiles) / kTilesPerSecond;
  e.listBytes = TileListBytes(minX, maxX, minY, maxY, *zoom);
  return {e, ""};
}

std::string GroupedCount(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
  return value < 0 ? "-" + digits : digits;
}

std::string DurationText(double seconds) {
  constexpr double kLongest = 1e15;  // far beyond any download; keeps the conversion defined
  const auto total = static_cast<int64_t>(std::llround(std::clamp(seconds, 0.0, kLongest)));
  const auto two = [](int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  if (total >= 100 * 3600) {
    return GroupedCount(total / 86400) + " d " + std::to_string(total / 3600 % 24) + " h";
  }
  return two(total / 3600) + ":" + two(total / 60 % 60) + ":" + two(total % 60);
}

std::string ByteSizeText(int64_t bytes) {
  const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  if (unit == 0) return std::to_string(bytes) + " bytes";
  const auto tenths = static_cast<int64_t>(std::llround(value * 10));
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + units[unit];
}

std::string EstimateText(const AreaEstimate& e) {
  const std::string around = e.inArea ? " around it" : "";
  const std::string tiles = e.tiles == 1 ? " tile" : " tiles";
  std::string text = GroupedCount(e.tiles) + tiles + (e.inArea ? " in the area (" : " (") + GroupedCount(e.columns) +
                     " x " + GroupedCount(e.rows) + around + ") · " + DurationText(e.secondsAtFullSpeed) + " at 8 tiles/s · tile list " +
                     ByteSizeText(e.listBytes);
  // Said first, where a narrow status bar still shows it.
  if (e.tiles > kMaxTaskTiles) return "Too large for one task (at most " + GroupedCount(kMaxTaskTiles) + " tiles): " + text;
  return text;
}
