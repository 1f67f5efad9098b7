// A tile range picked on a map, written into the fields, gives back the same range at Start.
#include "engine/area_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/area_input.h"

namespace {

// Rows beyond the fields' 85 degrees come back as the nearest nameable row.
void ExpectSameRange(int zoom, int64_t minX, int64_t minY, int64_t maxX, int64_t maxY) {
  const AreaTexts t = TextsForTiles(zoom, minX, minY, maxX, maxY);
  const RowSpan rows = NameableRows(zoom);
  minY = std::clamp(minY, rows.first, rows.last);
  maxY = std::clamp(maxY, rows.first, rows.last);
  const AreaEstimateOrReason back = EstimateArea(t.left, t.right, t.top, t.bottom, t.zoom);
  ASSERT_TRUE(back.estimate) << back.reason << " for " << t.left << " " << t.right << " " << t.top << " " << t.bottom;
  EXPECT_EQ(back.estimate->minX, minX) << "zoom " << zoom << " left " << t.left;
  EXPECT_EQ(back.estimate->maxX, maxX) << "zoom " << zoom << " right " << t.right;
  EXPECT_EQ(back.estimate->minY, minY) << "zoom " << zoom << " top " << t.top;
  EXPECT_EQ(back.estimate->maxY, maxY) << "zoom " << zoom << " bottom " << t.bottom;
}

TEST(AreaTexts, EveryZoomGivesBackTheRangeAtTheGridsEdgesAndAcrossTheMiddle) {
  for (int zoom = 1; zoom <= 19; ++zoom) {
    const int64_t side = int64_t{1} << zoom, half = side / 2;
    ExpectSameRange(zoom, 0, 0, side - 1, side - 1);            // the whole world
    ExpectSameRange(zoom, half - 1, half - 1, half, half);      // across the equator and the prime meridian
    ExpectSameRange(zoom, half, half, half, half);              // one tile at the middle's south-east
    ExpectSameRange(zoom, side - 1, side - 1, side - 1, side - 1);  // the last tile
  }
}

TEST(AreaTexts, RandomRangesComeBackAtEveryZoom) {
  std::mt19937_64 random(20261208);
  for (int zoom = 1; zoom <= 19; ++zoom) {
    std::uniform_int_distribution<int64_t> cell(0, (int64_t{1} << zoom) - 1);
    for (int i = 0; i < 200; ++i) {
      int64_t x0 = cell(random), x1 = cell(random), y0 = cell(random), y1 = cell(random);
      if (x0 > x1) std::swap(x0, x1);
      if (y0 > y1) std::swap(y0, y1);
      ExpectSameRange(zoom, x0, y0, std::min(x1, x0 + 2000), std::min(y1, y0 + 2000));
    }
  }
}

TEST(AreaTexts, RowsBeyondEightyFiveDegreesAreLeftOut) {
  EXPECT_EQ(NameableRows(1).first, 0);
  EXPECT_EQ(NameableRows(1).last, 1);
  const RowSpan rows = NameableRows(19);
  EXPECT_GT(rows.first, 0) << "row 0 of zoom 19 lies north of 85 degrees";
  EXPECT_EQ(rows.first + rows.last, (int64_t{1} << 19) - 1) << "symmetric about the equator";
  const AreaTexts t = TextsForTiles(19, 0, 0, 0, 0);
  EXPECT_EQ(t.top, TextsForTiles(19, 0, rows.first, 0, rows.first).top);
  EXPECT_EQ(t.top, "85.00000000");
}

TEST(AreaTexts, TextsAreDecimalsWithAPointAndTheZoom) {
  const AreaTexts t = TextsForTiles(13, 2412, 3080, 2413, 3081);
  EXPECT_EQ(t.zoom, "13");
  EXPECT_EQ(t.left, "-74.003862");  // 2412.001 tiles of 360/8192 degrees east of -180
  for (const std::string& text : {t.left, t.right, t.top, t.bottom}) EXPECT_EQ(text.find(','), std::string::npos);
}

}  // namespace
