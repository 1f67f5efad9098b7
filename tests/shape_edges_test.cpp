// Where a shape's edges run: straight in the coordinates of its own file (checked against GDAL's
// own tools, which segmentize in the source coordinates and rasterise on the tile grid), and on
// a tile's edge, which takes the tile on the inside and never the one beyond.
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/Commonfunc.h"
#include "platform/file_ops.h"
#include "shape/area_shape.h"
#include "shape/tile_cover.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Degrees(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// A ring of longitude, latitude pairs as GeoJSON coordinates.
std::string RingText(const std::vector<std::pair<double, double>>& ring) {
  std::string text = "[";
  for (const auto& [lon, lat] : ring) text += (text.size() > 1 ? ",[" : "[") + Degrees(lon) + "," + Degrees(lat) + "]";
  return text + "]";
}

// A closed ring through tile positions (column, row) at the zoom, in degrees moved by `ulps` units
// of their last place (east and north when positive), as a file written by hand would hold them.
std::vector<std::pair<double, double>> AtTiles(int zoom, int ulps, const std::vector<std::pair<double, double>>& tiles) {
  const auto z = static_cast<uint8_t>(zoom);
  const auto nudge = [ulps](double v) { return ulps == 0 ? v : std::nextafter(v, ulps * HUGE_VAL); };
  std::vector<std::pair<double, double>> ring;
  for (const auto& [x, y] : tiles) ring.emplace_back(nudge(TileXToLon(x, z)), nudge(TileYToLat(y, z)));
  ring.push_back(ring.front());
  return ring;
}

// Polygons whose every edge lies on a tile edge, across the equator, at zooms 3 to 9, their
// corners as written and a unit of the last digit off either way: an area takes the tiles inside
// its outline, 6 x 4 less the one of its hole and the four of a notch in its east side, and none
// of those beyond any of its sides, nor those under a spike a hair high along its south edge.
TEST(ShapeEdges, AnAreaOnTileEdgesTakesTheTilesInsideAndNoneBeyondOnAnySide) {
  TempDir dir;
  for (int zoom = 3; zoom <= 9; ++zoom) {
    const int n = 1 << zoom, x0 = n / 2 - 3, y0 = zoom % 2 ? n / 2 - 1 : n / 2 - 3;
    const auto notch = [&](int x, int y) { return x >= x0 + 4 && y >= y0 + 1 && y < y0 + 3; };
    const auto hole = [&](int x, int y) { return x == x0 + 2 && y == y0 + 1; };
    for (int ulps : {-1, 0, 1}) {
      std::vector<std::pair<double, double>> outline =
          AtTiles(zoom, ulps, {{x0, y0}, {x0 + 6, y0}, {x0 + 6, y0 + 1}, {x0 + 4, y0 + 1}, {x0 + 4, y0 + 3},
                               {x0 + 6, y0 + 3}, {x0 + 6, y0 + 4}, {x0 + 6.5, y0 + 4}, {x0 + 6.5, y0 + 4}, {x0, y0 + 4}});
      outline[6].second += 1e-12;
      outline[7].second += 1e-12;
      const std::string path = dir.File("tiles.geojson");
      qm::WriteFileAtomic(path, R"({"type": "Polygon", "coordinates": [)" + RingText(outline) + "," +
                                    RingText(AtTiles(zoom, ulps, {{x0 + 2, y0 + 1}, {x0 + 2, y0 + 2}, {x0 + 3, y0 + 2},
                                                                  {x0 + 3, y0 + 1}})) + "]}");
      const AreaCover cover = CoverOf(AreaShape::Read(path), zoom);
      SCOPED_TRACE("zoom " + std::to_string(zoom) + ", " + std::to_string(ulps) + " ulp");
      EXPECT_EQ(cover.Tiles(), 6 * 4 - 1 - 4);
      for (int y = y0 - 1; y <= y0 + 4; ++y) {
        for (int x = x0 - 1; x <= x0 + 7; ++x) {
          const bool inside = x >= x0 && x < x0 + 6 && y >= y0 && y < y0 + 4 && !hole(x, y) && !notch(x, y);
          EXPECT_EQ(cover.Contains(x, y), inside) << "tile " << x << "," << y;
        }
      }
    }
  }
}

// A GeoJSON geometry in the coordinate system EPSG:epsg.
std::string InCrs(const std::string& epsg, const std::string& type, const std::string& coordinates) {
  return R"({"type": "FeatureCollection", "crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::)" + epsg +
         R"("}}, "features": [{"type": "Feature", "properties": {}, "geometry": {"type": ")" + type +
         R"(", "coordinates": )" + coordinates + "}}]}";
}

// The pixels of a one-band raster of width x height that GDAL wrote, row by row; none when it is
// not so.
std::vector<unsigned char> Pixels(const std::string& path, int width, int height) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> raster(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height);
  if (!raster || raster->GetRasterXSize() != width || raster->GetRasterYSize() != height ||
      raster->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, width, height, pixels.data(), width, height, GDT_Byte, 0, 0)) {
    return {};
  }
  return pixels;
}

// A quadrilateral of UTM zone 32 whose edges run 500 to 700 km: at zoom 9 its edges, straight in
// metres, part from straight edges in degrees by several tiles. GDAL segmentizes them in metres,
// turns them into Web Mercator and rasterises them on the tile grid: every tile with a pixel
// burnt at a sixteenth of a tile is in the cover, and every tile of the cover was touched.
TEST(ShapeEdges, EdgesOfAShapeInMetresAreStraightInMetresAsGdalDrawsThem) {
  TempDir dir;
  const std::string utm = dir.File("utm.geojson"), mercator = dir.File("mercator.geojson");
  qm::WriteFileAtomic(utm, InCrs("32632", "Polygon", "[[[250000, 4900000], [940000, 5150000], [820000, 5750000], "
                                                     "[300000, 5500000], [250000, 4900000]]]"));
  const int zoom = 9;
  const AreaCover cover = CoverOf(AreaShape::Read(utm), zoom);
  const TileRange box = cover.Bounds();
  const double tile = 2 * 20037508.342789244 / (1 << zoom), origin = -20037508.342789244;
  const int x0 = box.MinX - 1, y0 = box.MinY - 1, columns = box.MaxX - box.MinX + 3, rows = box.MaxY - box.MinY + 3;
  const std::vector<std::string> extent = {"-te", Degrees(origin + x0 * tile), Degrees(-origin - (y0 + rows) * tile),
                                           Degrees(origin + (x0 + columns) * tile), Degrees(-origin - y0 * tile)};
  const auto rasterise = [&](const std::string& out, int perTile, bool allTouched) {
    std::vector<std::string> argv = {"gdal_rasterize", "-q", "-burn", "1", "-ot", "Byte", "-ts",
                                     std::to_string(columns * perTile), std::to_string(rows * perTile)};
    argv.insert(argv.end(), extent.begin(), extent.end());
    if (allTouched) argv.push_back("-at");
    argv.insert(argv.end(), {mercator, out});
    return qmtest::RunProgram(argv, dir.Path()).status == 0;
  };
  if (qmtest::RunProgram({"ogr2ogr", "--version"}, dir.Path()).status != 0) GTEST_SKIP() << "gdal-bin is not installed";
  ASSERT_EQ(qmtest::RunProgram({"ogr2ogr", "-segmentize", "100", "-t_srs", "EPSG:3857", mercator, utm}, dir.Path()).status, 0);
  ASSERT_TRUE(rasterise(dir.File("fine.tif"), 16, false) && rasterise(dir.File("touched.tif"), 1, true));
  const std::vector<unsigned char> fine = Pixels(dir.File("fine.tif"), columns * 16, rows * 16);
  const std::vector<unsigned char> touched = Pixels(dir.File("touched.tif"), columns, rows);
  ASSERT_FALSE(fine.empty() || touched.empty());
  int64_t burnt = 0;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      bool any = false;
      for (int i = 0; i < 16 * 16 && !any; ++i) any = fine[size_t(row * 16 + i / 16) * columns * 16 + column * 16 + i % 16];
      burnt += any;
      const int x = x0 + column, y = y0 + row;
      EXPECT_TRUE(!any || cover.Contains(x, y)) << "tile " << x << "," << y << " has a burnt pixel";
      EXPECT_TRUE(!cover.Contains(x, y) || touched[size_t(row) * columns + column]) << "tile " << x << "," << y;
    }
  }
  EXPECT_GT(burnt, 50);
}

// An edge in metres that runs through 0 stays there, as one in degrees does, and a line in metres
// is turned as an outline is; a square round the North Pole in polar stereographic metres crosses
// the 180th meridian, which no outline in degrees can follow, and is refused as any shape beyond it.
TEST(ShapeEdges, AnEdgeAcrossThe180thMeridianInItsOwnCoordinatesIsRefused) {
  TempDir dir;
  const std::string wide = dir.File("wide.geojson"), polar = dir.File("polar.geojson");
  qm::WriteFileAtomic(wide, InCrs("3857", "Polygon", "[[[-19e6, 2e6], [19e6, 2e6], [19e6, 4e6], [-19e6, 4e6], [-19e6, 2e6]]]"));
  EXPECT_EQ(CoverOf(AreaShape::Read(wide), 3).Tiles(), 8);
  qm::WriteFileAtomic(wide, InCrs("3857", "LineString", "[[0, 0], [1113194.9079327357, 0]]"));  // 10 degrees east
  EXPECT_NEAR(AreaShape::Read(wide).Bounds().east, 10, 1e-9);
  // Near the pole, 135°E to 153°E, then across to 153°W: the last edge, or the first, crosses.
  qm::WriteFileAtomic(wide, InCrs("3413", "LineString", "[[0, 3e6], [-1e6, 3e6]]"));
  EXPECT_NO_THROW(AreaShape::Read(wide));
  for (const char* line : {"[[0, 3e6], [-1e6, 3e6], [-3e6, 1e6]]", "[[-3e6, 1e6], [-1e6, 3e6], [0, 3e6]]"}) {
    qm::WriteFileAtomic(wide, InCrs("3413", "LineString", line));
    EXPECT_THROW(AreaShape::Read(wide), ShapeError) << line;
  }
  qm::WriteFileAtomic(polar, InCrs("3413", "Polygon", "[[[-3e6, -3e6], [3e6, -3e6], [3e6, 3e6], [-3e6, 3e6], [-3e6, -3e6]]]"));
  try {
    AreaShape::Read(polar);
    ADD_FAILURE() << "read";
  } catch (const ShapeError& e) {
    EXPECT_STREQ(e.what(), ("The shape of " + polar + " reaches beyond 180 degrees of longitude: split it into one "
                            "file on each side of the 180th meridian.").c_str());
  }
}

}  // namespace
