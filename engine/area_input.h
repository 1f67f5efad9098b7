// The rectangle and zoom as typed in the main window: reading the coordinate texts, the range
// checks with their messages, and the tile range and size a rectangle gives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A coordinate text with its decimal commas taken as points; nothing when it is not a number.
std::optional<double> CoordinateFromText(std::string text);

struct Rectangle {
  double left = 0;
  double right = 0;
  double top = 0;
  double bottom = 0;
};

// The first range or order check that fails, as Start shows it, or nothing.
std::optional<std::string> RectangleError(const Rectangle& r);

// What a download of the rectangle at a zoom amounts to, before anything is written.
struct AreaEstimate {
  int64_t minX = 0, maxX = 0, minY = 0, maxY = 0;  // the tile range
  int64_t columns = 0;
  int64_t rows = 0;
  int64_t tiles = 0;
  double secondsAtFullSpeed = 0;  // eight workers, one tile a second each
  int64_t listBytes = 0;          // the size of the tile list file
  bool inArea = false;            // tiles counts only the tiles of an area inside the range
  int64_t areaTiles = 0;          // with inArea: all the area's tiles at the zoom, inside the range or not
};

// The estimate for the field texts, or the reason they do not describe an area yet.
struct AreaEstimateOrReason {
  std::optional<AreaEstimate> estimate;
  std::string reason;
};
AreaEstimateOrReason EstimateArea(const std::string& left, const std::string& right, const std::string& top,
                                  const std::string& bottom, const std::string& zoom);

// "978,118 tiles (1,234 x 793) · 33:57:45 at 8 tiles/s · tile list 107.3 MB"
std::string EstimateText(const AreaEstimate& estimate);

// Plain texts of figures: "1,234,567"; "00:07:51", or "96 d 18 h" from 100 hours on; "107.3 MB".
std::string GroupedCount(int64_t value);
std::string DurationText(double seconds);
std::string ByteSizeText(int64_t bytes);
