// Tile grid math: worked examples, exact boundaries, the Mercator limit and row bounds.
#include "engine/Commonfunc.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text_format.h"

namespace {

TEST(TileGrid, WorkedExampleAtZoom13) {
  EXPECT_EQ(LonToTileX(-74.0, 13), 2412);
  EXPECT_EQ(LonToTileX(-73.9, 13), 2414);
  EXPECT_EQ(LatToTileY(40.7, 13), 3080);
  EXPECT_EQ(LatToTileY(40.6, 13), 3083);
  EXPECT_EQ(TileXToLon(2412, 13), -74.00390625);
  EXPECT_EQ(TileXToLon(2415, 13), -73.8720703125);
  EXPECT_NEAR(TileYToLat(3080, 13), 40.7139558263, 1e-10);
  EXPECT_NEAR(TileYToLat(3084, 13), 40.5805846641, 1e-10);
}

TEST(TileGrid, LongitudesOnBoundariesFallAsExtendedPrecisionDecides) {
  for (int z = 1; z <= 19; ++z) {
    const auto zoom = static_cast<uint8_t>(z);
    const int32_t n = 1 << z;
    SCOPED_TRACE(z);
    EXPECT_EQ(LonToTileX(-180, zoom), 0);
    EXPECT_EQ(LonToTileX(180, zoom), n - 1);
    EXPECT_EQ(LonToTileX(0, zoom), n / 2 - 1);
    if (z >= 2) {
      EXPECT_EQ(LonToTileX(-90, zoom), n / 4 - 1);
      EXPECT_EQ(LonToTileX(90, zoom), 3 * (n / 4));
    }
  }
  EXPECT_EQ(LonToTileX(168.75, 5), 30);
  EXPECT_EQ(LonToTileX(-146.25, 5), 3);
}

TEST(TileGrid, EquatorMercatorLimitAndEastEdge) {
  for (int z = 1; z <= 19; ++z) {
    const auto zoom = static_cast<uint8_t>(z);
    const int32_t n = 1 << z;
    SCOPED_TRACE(z);
    EXPECT_EQ(LatToTileY(0, zoom), n / 2);
    EXPECT_NEAR(TileYToLat(0, zoom), 85.0511287798, 1e-9);
    EXPECT_EQ(TileYToLat(n / 2, zoom), 0.0);
    EXPECT_EQ(TileXToLon(n, zoom), 180.0);
    EXPECT_EQ(TileXToLon(0, zoom), -180.0);
  }
}

TEST(TileGrid, RowsStayInsideTheGridWithin85Degrees) {
  for (int z = 1; z <= 19; ++z) {
    const auto zoom = static_cast<uint8_t>(z);
    const int32_t n = 1 << z;
    for (double lat = -85.0; lat <= 85.0; lat += 0.37) {
      const int32_t row = LatToTileY(lat, zoom);
      ASSERT_GE(row, 0) << lat << " at " << z;
      ASSERT_LT(row, n) << lat << " at " << z;
    }
  }
}

TEST(TileGrid, EdgesRoundTripToTheirTiles) {
  // The west edge of a column maps back into that column or the one to its west (exact
  // boundaries), and a point inside a tile maps to the tile.
  for (int x = 0; x < 256; x += 7) {
    const double mid = (TileXToLon(x, 8) + TileXToLon(x + 1, 8)) / 2;
    EXPECT_EQ(LonToTileX(mid, 8), x);
  }
  for (int y = 1; y < 255; y += 7) {
    const double mid = (TileYToLat(y, 8) + TileYToLat(y + 1, 8)) / 2;
    EXPECT_EQ(LatToTileY(mid, 8), y);
  }
}

// A latitude on a row edge lands in that row or the one north of it, as the roundings of the
// row formula decide; which one matters, since the log and the project file print these edges
// and users type them back in. The pinned cases are the ones where m rounded to double decides.
TEST(TileGrid, RowEdgesFallIntoTheRowTheRoundedFormulaGives) {
  for (int z : {5, 8, 13, 16, 19}) {
    const auto zoom = static_cast<uint8_t>(z);
    const int32_t n = 1 << z;
    for (int32_t y = 1; y < n; y += std::max(1, n / 1024)) {
      const int32_t row = LatToTileY(TileYToLat(y, zoom), zoom);
      ASSERT_TRUE(row == y || row == y - 1) << y << " at " << z;
    }
  }
  EXPECT_EQ(LatToTileY(TileYToLat(13, 5), 5), 13);
  EXPECT_EQ(LatToTileY(TileYToLat(19, 5), 5), 19);
  EXPECT_EQ(LatToTileY(TileYToLat(5, 8), 8), 5);
  EXPECT_EQ(LatToTileY(TileYToLat(6, 8), 8), 5);
  struct PrintedEdge {
    const char* text;  // the edge as the log prints it
    int zoom;
    int32_t edge;
    int32_t row;
  };
  const PrintedEdge printed[] = {
      {"55.7765730186677", 5, 10, 10},      {"24.5271348225978", 8, 110, 110},
      {"-2.81137119333113", 8, 130, 130},   {"84.4867453729266", 13, 141, 140},
      {"83.455369962642", 13, 365, 365},    {"83.4497326919014", 16, 2929, 2929},
      {"85.0282709377234", 19, 385, 385},   {"84.3369126195361", 19, 11265, 11264}};
  for (const PrintedEdge& e : printed) {
    const auto zoom = static_cast<uint8_t>(e.zoom);
    EXPECT_EQ(qm::FormatG15(TileYToLat(e.edge, zoom), '.'), e.text);
    EXPECT_EQ(LatToTileY(*qm::StrictNumberFromText(e.text), zoom), e.row) << e.text;
  }
}

}  // namespace
