// Areas from a vector file: the tiles a polygon with a hole, a buffered GPX track and a point touch,
// each against tiles counted one by one (the tile shares area with an area of the shape, or its
// square meets a line or point), and bad files refused.
#include <gtest/gtest.h>
#include <ogr_api.h>
#include <ogr_geometry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "engine/Commonfunc.h"
#include "platform/file_ops.h"
#include "shape/area_shape.h"
#include "shape/tile_cover.h"
#include "tests/support/temp_dir.h"

namespace {

// Whether the tile's square shares area with an area of the shape, or meets one of its lines or
// points (edges included).
bool Covers(const OGRGeometry& shape, const OGRPolygon& square) {
  if (const auto* parts = dynamic_cast<const OGRGeometryCollection*>(&shape)) {
    for (const OGRGeometry* part : *parts) {
      if (Covers(*part, square)) return true;
    }
    return false;
  }
  if (shape.getDimension() < 2) return shape.Intersects(&square);
  const std::unique_ptr<OGRGeometry> common(shape.Intersection(&square));
  return common && common->getDimension() == 2 && OGR_G_Area(OGRGeometry::ToHandle(common.get())) > 0;
}

// Tiles the shape covers, counted tile by tile over the cover's bounding range and a margin;
// every one must be in the cover and the cover must hold no other.
void ExpectCoverCountedTileByTile(const AreaShape& shape, const AreaCover& cover) {
  const auto z = static_cast<uint8_t>(cover.Zoom());
  const DegreeBox box = shape.Bounds();
  int64_t counted = 0;
  for (int32_t y = LatToTileY(box.north, z) - 1; y <= LatToTileY(box.south, z) + 1; ++y) {
    for (int32_t x = LonToTileX(box.west, z) - 1; x <= LonToTileX(box.east, z) + 1; ++x) {
      OGRLinearRing ring;
      ring.addPoint(TileXToLon(x, z), TileYToLat(y, z));
      ring.addPoint(TileXToLon(x + 1, z), TileYToLat(y, z));
      ring.addPoint(TileXToLon(x + 1, z), TileYToLat(y + 1, z));
      ring.addPoint(TileXToLon(x, z), TileYToLat(y + 1, z));
      ring.closeRings();
      OGRPolygon square;
      square.addRing(&ring);
      const bool meets = Covers(shape.Geometry(), square);
      counted += meets;
      EXPECT_EQ(cover.Contains(x, y), meets) << "tile " << x << "," << y;
    }
  }
  EXPECT_EQ(cover.Tiles(), counted);
  EXPECT_GT(counted, 0);
}

struct Shapes : ::testing::Test {
  TempDir dir;
  std::string Write(const std::string& name, const std::string& text) {
    qm::WriteFileAtomic(dir.File(name), text);
    return dir.File(name);
  }
};

TEST_F(Shapes, APolygonWithAHoleCoversTheTilesItTouchesAndNotThoseOfItsHole) {
  const AreaShape shape = AreaShape::Read(Write("park.geojson", R"({"type": "Polygon", "coordinates": [
      [[10.013, 45.011], [10.207, 45.004], [10.198, 45.193], [10.021, 45.207], [10.013, 45.011]],
      [[10.061, 45.057], [10.152, 45.059], [10.149, 45.148], [10.063, 45.151], [10.061, 45.057]]]})"));
  const AreaCover cover = CoverOf(shape, 14);
  ExpectCoverCountedTileByTile(shape, cover);
  // A tile in the middle of the hole is left out; one of the ring is in.
  EXPECT_FALSE(cover.Contains(LonToTileX(10.105, 14), LatToTileY(45.1, 14)));
  EXPECT_TRUE(cover.Contains(LonToTileX(10.03, 14), LatToTileY(45.1, 14)));
}

TEST_F(Shapes, ATrackIsWidenedByMetresOnTheGroundAndAPointTakesItsTile) {
  const std::string gpx = Write("walk.gpx", R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><name>walk</name><trkseg>
<trkpt lat="60.0013" lon="24.9011"/><trkpt lat="60.0517" lon="24.9023"/><trkpt lat="60.0811" lon="24.9612"/>
</trkseg></trk></gpx>)");
  const AreaShape track = AreaShape::Read(gpx, 1000);
  // 1 km either side of a line running north at 60 degrees, where a degree of longitude is ~55.8 km.
  const DegreeBox box = track.Bounds();
  EXPECT_NEAR(box.south, 60.0013 - 1000 / 111320.0, 0.0005);
  EXPECT_NEAR(box.north, 60.0811 + 1000 / 111320.0, 0.0005);
  EXPECT_NEAR(box.west, 24.9011 - 1000 / (111320.0 * std::cos(60.0 * M_PI / 180)), 0.0008);
  ExpectCoverCountedTileByTile(track, CoverOf(track, 15));
  // Without a buffer the track is a line: only the tiles it crosses.
  const AreaShape line = AreaShape::Read(gpx);
  ExpectCoverCountedTileByTile(line, CoverOf(line, 15));
  EXPECT_LT(CoverOf(line, 15).Tiles(), CoverOf(track, 15).Tiles());

  // The area file a task keeps reads back as exactly the widened track, so a continued task covers
  // the same tiles.
  const AreaShape back = AreaShape::FromGeoJson(track.GeoJson());
  std::vector<unsigned char> wkb(track.Geometry().WkbSize()), backWkb(back.Geometry().WkbSize());
  track.Geometry().exportToWkb(wkbNDR, wkb.data());
  back.Geometry().exportToWkb(wkbNDR, backWkb.data());
  EXPECT_EQ(wkb, backWkb);

  const AreaShape point = AreaShape::Read(Write("hut.geojson", R"({"type": "Point", "coordinates": [7.6541, 45.9763]})"));
  const AreaCover one = CoverOf(point, 16);
  EXPECT_EQ(one.Tiles(), 1);
  EXPECT_TRUE(one.Contains(LonToTileX(7.6541, 16), LatToTileY(45.9763, 16)));
}

std::string Refusal(const std::string& path, double buffer = 0) {
  try {
    AreaShape::Read(path, buffer);
  } catch (const ShapeError& e) {
    return e.what();
  }
  return "read";
}

TEST_F(Shapes, FilesWithoutAUsableShapeAreRefusedWithTheirReason) {
  EXPECT_EQ(Refusal(dir.File("none.gpx")), "The file " + dir.File("none.gpx") + " does not exist.");
  const std::string notes = Write("notes.txt", "a shopping list");
  EXPECT_EQ(Refusal(notes).rfind("Cannot read " + notes + " as a vector file (GeoJSON, KML", 0), 0u) << Refusal(notes);
  const std::string empty = Write("empty.geojson", R"({"type": "FeatureCollection", "features": []})");
  EXPECT_EQ(Refusal(empty), empty + " holds no points, lines or areas.");
  const std::string polar = Write("polar.geojson", R"({"type": "Point", "coordinates": [10, 86]})");
  EXPECT_NE(Refusal(polar).find("beyond 85 degrees"), std::string::npos);
  const std::string hut = Write("hut.geojson", R"({"type": "Point", "coordinates": [7.6, 45.9]})");
  EXPECT_EQ(Refusal(hut, -5), "The buffer should be zero or more metres.");
  EXPECT_EQ(Refusal(hut, 2e7), "The buffer should be at most 100,000 metres.");
  EXPECT_NE(Refusal(hut, 1e-320).find("too small to widen the lines and points"), std::string::npos);
  const std::string edge = Write("edge.geojson", R"({"type": "Point", "coordinates": [179.999, 10]})");
  EXPECT_NE(Refusal(edge, 1000).find("beyond 180 degrees of longitude"), std::string::npos);
  // Metres of a file without its coordinate system, and numbers that are no coordinates at all.
  const std::string metres = Write("metres.csv", "id,WKT\n1,\"POINT(579824 4984671)\"\n");
  EXPECT_NE(Refusal(metres).find("are not degrees of longitude and latitude (579824, 4984671): perhaps metres"),
            std::string::npos) << Refusal(metres);
  EXPECT_NE(Refusal(Write("huge.geojson", R"({"type": "Point", "coordinates": [1e308, 10]})")).find("are not degrees"),
            std::string::npos);
  EXPECT_NE(Refusal(Write("inf.geojson", R"({"type": "Point", "coordinates": [1e999, 10]})")).find("not a finite number"),
            std::string::npos);
  std::string nested = R"({"type": "Point", "coordinates": [7.6, 45.9]})";
  for (int i = 0; i < 30; ++i) nested = R"({"type": "GeometryCollection", "geometries": [)" + nested + "]}";
  EXPECT_NE(Refusal(Write("nested.geojson", nested)).find("at most 32 levels"), std::string::npos);
}

// Edges are straight in the file's own coordinates: a rectangle from -170 to 170 runs through 0,
// as the same rectangle typed in the fields does. A buffer too small to widen anything changes no
// polygon.
TEST_F(Shapes, ARectangleOverMostOfTheWorldIsTakenAsTypedAndPolygonsIgnoreTheBuffer) {
  const std::string wide = Write("wide.geojson", R"({"type": "Polygon", "coordinates":
      [[[-170, 10], [170, 10], [170, 20], [-170, 20], [-170, 10]]]})");
  const AreaCover cover = CoverOf(AreaShape::Read(wide), 3);
  EXPECT_EQ(cover.Tiles(), 8);
  EXPECT_TRUE(cover.Contains(0, 3) && cover.Contains(7, 3));
  EXPECT_EQ(CoverOf(AreaShape::Read(wide, 1e-320), 9).Tiles(), CoverOf(AreaShape::Read(wide), 9).Tiles());
}

// A track of one recorded point is widened as a waypoint at the same place.
TEST_F(Shapes, AOnePointTrackIsWidenedLikeAWaypoint) {
  const std::string gpx = R"(<?xml version="1.0"?><gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">)";
  const AreaShape track = AreaShape::Read(
      Write("one.gpx", gpx + R"(<trk><trkseg><trkpt lat="45.9763" lon="7.6541"/></trkseg></trk></gpx>)"), 100);
  const AreaShape waypoint = AreaShape::Read(Write("hut.gpx", gpx + R"(<wpt lat="45.9763" lon="7.6541"/></gpx>)"), 100);
  EXPECT_EQ(track.GeoJson(), waypoint.GeoJson());
  EXPECT_EQ(CoverOf(track, 19).Tiles(), CoverOf(waypoint, 19).Tiles());
  EXPECT_GT(CoverOf(track, 19).Tiles(), 4);
}

// What GDAL would read elsewhere, block on or never finish is refused before it opens the file.
TEST_F(Shapes, OnlyRegularLocalFilesOfTheTakenFormatsAreOpened) {
  const std::string park = Write("park.geojson", R"({"type": "Point", "coordinates": [7.6, 45.9]})");
  EXPECT_EQ(Refusal("/vsicurl/http://127.0.0.1:9/park.geojson"),
            "/vsicurl/http://127.0.0.1:9/park.geojson names a GDAL virtual file system: an area is read only from a local file.");
  const std::string fifo = dir.File("pipe.geojson");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), dir.Path()}) {
    EXPECT_NE(Refusal(path).find(" is not a regular file"), std::string::npos) << path;
  }
  // A VRT names another source: its driver is not among those taken, even for a local file.
  const std::string vrt = Write("park.vrt", "<OGRVRTDataSource><OGRVRTLayer name=\"park\"><SrcDataSource>" + park +
                                                "</SrcDataSource></OGRVRTLayer></OGRVRTDataSource>");
  EXPECT_EQ(Refusal(vrt).rfind("Cannot read " + vrt + " as a vector file (GeoJSON, KML", 0), 0u) << Refusal(vrt);
  // A Shapefile whose table is a pipe.
  const std::string shp = Write("roads.shp", "");
  ASSERT_EQ(::symlink(fifo.c_str(), dir.File("roads.dbf").c_str()), 0);
  EXPECT_EQ(Refusal(shp), dir.File("roads.dbf") + ", beside roads.shp, is not a regular file: the file and those beside "
                                                  "it must be files of their own.");
}

// Outlines drawn by hand cross themselves, and some files hold arcs: both still give an area.
TEST_F(Shapes, AnOutlineThatCrossesItselfIsRepairedAndArcsBecomeSegments) {
  const AreaShape bowTie = AreaShape::Read(Write("bowtie.geojson", R"({"type": "Polygon", "coordinates":
      [[[10.0, 50.0], [10.2, 50.15], [10.2, 50.0], [10.0, 50.15], [10.0, 50.0]]]})"));
  ExpectCoverCountedTileByTile(bowTie, CoverOf(bowTie, 13));
  // Both lobes are kept: the west one ends at 10.1, the east one begins there.
  EXPECT_NEAR(bowTie.Bounds().west, 10.0, 1e-9);
  EXPECT_NEAR(bowTie.Bounds().east, 10.2, 1e-9);
  const AreaShape circle = AreaShape::Read(Write("pond.csv",
      "id,WKT\n1,\"CURVEPOLYGON(CIRCULARSTRING(10 50,10.1 50,10 50))\"\n"));
  const DegreeBox box = circle.Bounds();
  EXPECT_NEAR(box.east, 10.1, 1e-3);
  EXPECT_NEAR(box.north - box.south, 0.1, 1e-3);
}

}  // namespace
