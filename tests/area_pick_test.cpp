// The area picker's rectangle: the tiles it takes at a download zoom, the field texts those give
// back at Start, and adjusting it by its edges.
#include "mapview/area_pick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/area_input.h"
#include "engine/area_texts.h"
#include "mapview/web_tile_source.h"

namespace {

using namespace mapview;

WorldRect RectOf(const CellRect& cells) {
  return {static_cast<double>(cells.x0), static_cast<double>(cells.y0), static_cast<double>(cells.x1),
          static_cast<double>(cells.y1)};
}

// The range a drawn rectangle shows, written into the fields and read back as Start reads them.
TileRange RangeThroughFields(const WorldRect& rect, int zoom) {
  const TileRange shown = RangeAt(rect, zoom);
  const AreaTexts t = TextsForTiles(zoom, shown.minX, shown.minY, shown.maxX, shown.maxY);
  const AreaEstimateOrReason back = EstimateArea(t.left, t.right, t.top, t.bottom, t.zoom);
  if (!back.estimate) {
    ADD_FAILURE() << back.reason;
    return {};
  }
  return {zoom, back.estimate->minX, back.estimate->minY, back.estimate->maxX, back.estimate->maxY};
}

TEST(AreaPick, RectanglesOnTileEdgesTakeExactlyTheirTilesAndComeBackThroughTheFields) {
  const double middle = std::ldexp(1.0, kWorldZoom - 1);
  for (int zoom = 1; zoom <= kWorldZoom; ++zoom) {
    const int64_t half = int64_t{1} << (zoom - 1);
    for (const TileRange range : {TileRange{zoom, half - 1, half - 1, half, half},  // the equator and meridian
                                  TileRange{zoom, half, half, half, half},
                                  TileRange{zoom, 0, half, half - 1, half}}) {
      const WorldRect onEdges = RectOf(WorldCellsOf(range));
      EXPECT_EQ(RangeAt(onEdges, zoom), range) << "zoom " << zoom;
      EXPECT_EQ(RangeThroughFields(onEdges, zoom), range) << "zoom " << zoom;
    }
    // A rectangle drawn anyhow across both lines: the tiles shown are the tiles Start takes.
    const WorldRect across{middle - 1234.5, middle - 777.25, middle + 4321.75, middle + 55.5};
    const TileRange shown = RangeAt(across, zoom);
    EXPECT_LT(shown.minX, half);
    EXPECT_GE(shown.maxX, half);
    EXPECT_EQ(RangeThroughFields(across, zoom), shown) << "zoom " << zoom;
  }
}

TEST(AreaPick, RandomRectanglesComeBackThroughTheFieldsAtEveryZoom) {
  std::mt19937_64 random(8122026);
  std::uniform_real_distribution<double> place(0, std::ldexp(1.0, kWorldZoom));
  for (int zoom = 1; zoom <= kWorldZoom; ++zoom) {
    for (int i = 0; i < 100; ++i) {
      const WorldRect rect = Spanned(place(random), place(random), place(random), place(random));
      const TileRange shown = RangeAt(rect, zoom);
      EXPECT_EQ(RangeThroughFields(rect, zoom), shown) << "zoom " << zoom;
      // Rows beyond what the fields can name are left out; the rest of the rectangle is taken.
      const RowSpan rows = NameableRows(zoom);
      EXPECT_GE(shown.minY, rows.first);
      EXPECT_LE(shown.maxY, rows.last);
    }
  }
}

TEST(AreaPick, EdgesAreTakenByTheirHandlesAndSwapWhenDraggedPastEachOther) {
  Viewport view;
  view.width = 800;
  view.height = 600;
  view.centerX = 500;
  view.centerY = 350;
  view.pixelsPerTile = 2;  // the rectangle below spans x 200..400 and y 100..300 on screen
  const CellRect shown{400, 250, 500, 350};
  EXPECT_EQ(EdgesNear(view, shown, 202, 200, 6), kLeft);
  EXPECT_EQ(EdgesNear(view, shown, 397, 303, 6), kRight | kBottom);
  EXPECT_EQ(EdgesNear(view, shown, 300, 200, 6), kInside);
  EXPECT_EQ(EdgesNear(view, shown, 100, 200, 6), kNoEdge);

  int edges = kLeft;
  const WorldRect dragged = Dragged(RectOf(shown), edges, 600, 300);
  EXPECT_EQ(dragged, (WorldRect{500, 250, 600, 350}));
  EXPECT_EQ(edges, kRight) << "the edge held is now the right one";
  EXPECT_EQ(Dragged(dragged, edges, 550, 300), (WorldRect{500, 250, 550, 350}));
}

TEST(AreaPick, AMoveGoesByWholeTilesAndKeepsTheSizeUpToTheNameableRows) {
  std::mt19937_64 random(9122026);
  std::uniform_real_distribution<double> by(-5000.5, 5000.5);
  for (int zoom = 1; zoom <= kWorldZoom; ++zoom) {
    const int64_t half = int64_t{1} << (zoom - 1);
    TileRange range{zoom, half - 1, half - 1, half, half};
    for (int i = 0; i < 20; ++i) {
      range = MovedByTiles(range, by(random), by(random));
      ASSERT_EQ(range.Count(), 4) << "zoom " << zoom;
      EXPECT_EQ(RangeAt(RectOf(WorldCellsOf(range)), zoom), range);
    }
  }
  const RowSpan rows = NameableRows(10);
  const TileRange top = MovedByTiles({10, 5, rows.first + 2, 34, rows.first + 30}, -1e9, -1e9);
  EXPECT_EQ(top, (TileRange{10, 0, rows.first, 29, rows.first + 28})) << "stopped at the first nameable row";
  const TileRange corner = MovedByTiles({10, 1000, 500, 1010, 510}, 1e9, 1e9);
  EXPECT_EQ(corner.maxX, 1023) << "stopped at the last column";
  EXPECT_EQ(corner.maxY, rows.last);
  EXPECT_EQ(corner.Count(), 121);
}

TEST(AreaPick, WorldPositionsAndDegreesAreInverse) {
  for (const double lon : {-180.0, -0.5, 0.0, 13.4, 179.99}) EXPECT_NEAR(LongitudeOf(WorldXOf(lon)), lon, 1e-9);
  for (const double lat : {-85.0, -0.1, 0.0, 52.52, 85.0}) EXPECT_NEAR(LatitudeOf(WorldYOf(lat)), lat, 1e-9);
  EXPECT_DOUBLE_EQ(WorldXOf(0), std::ldexp(1.0, kWorldZoom - 1));
  EXPECT_DOUBLE_EQ(WorldYOf(0), std::ldexp(1.0, kWorldZoom - 1));
}

}  // namespace
