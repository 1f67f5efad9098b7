// Mosaics of a project made by a real download from the local test server with image tiles, read
// back with GDAL and SQLite: size, EPSG:3857, geotransform, colours, the MBTiles row flip and
// blobs, the world file, and the filled tiles listed.
#include <gdal.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "demo/jpeg_codec.h"
#include "engine/tile_source.h"
#include "mosaic/mosaic_writer.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;

constexpr int kMinX = 2412, kMinY = 3080;  // the example area: 3 columns by 4 rows at zoom 13
constexpr double kHalfWorld = 3.141592653589793 * 6378137.0;

std::array<uint8_t, 3> ColourOf(int x, int y) {
  return {static_cast<uint8_t>(40 + 60 * (x - kMinX)), static_cast<uint8_t>(30 + 50 * (y - kMinY)), 200};
}

std::string SolidJpeg(std::array<uint8_t, 3> colour) {
  RgbImage image{256, 256, {}};
  for (int i = 0; i < 256 * 256; ++i) image.pixels.insert(image.pixels.end(), colour.begin(), colour.end());
  return EncodeJpeg(image, 95);
}

struct Mosaic : ::testing::Test {
  static void SetUpTestSuite() { GDALAllRegister(); }

  // Downloads the example area; (2413, 3081) is not found (the blank tile) and (2414, 3083)
  // answers bytes that are no image.
  void SetUp() override {
    for (int x = kMinX; x <= kMinX + 2; ++x) {
      for (int y = kMinY; y <= kMinY + 3; ++y) {
        std::vector<ScriptedAnswer> answers = {ScriptedAnswer::Ok(SolidJpeg(ColourOf(x, y)))};
        if (x == 2413 && y == 3081) answers.assign(3, ScriptedAnswer::Status(404));
        if (x == 2414 && y == 3083) answers = {ScriptedAnswer::Ok("no image here")};
        server.Script(TestServer::TilePath(13, x, y), answers);
      }
    }
    qmtest::ControllerRig rig(dir, server);
    rig.controller.BitBtn1Click(in);
    ASSERT_TRUE(rig.RunToEnd());
    source = ReadMosaicSource(in.Folder + "/newtask.qmtp");
    options.blankTileFile = qm::ProgramFolder() + "blankimg/blank.jpg";
  }

  MosaicReport Write(MosaicFormat format, const std::string& name) {
    options.format = format;
    return WriteMosaic(source, in.Folder + "/" + name, options);
  }

  // The pixel at the centre of a tile, as RGBA (alpha 255 when the file has none).
  static std::array<int, 4> CentreOf(GDALDatasetH d, int column, int row) {
    std::array<int, 4> rgba{0, 0, 0, 255};
    for (int b = 1; b <= std::min(4, GDALGetRasterCount(d)); ++b) {
      uint8_t v = 0;
      if (GDALRasterIO(GDALGetRasterBand(d, b), GF_Read, column * 256 + 128, row * 256 + 128, 1, 1, &v, 1, 1, GDT_Byte, 0, 0) != CE_None) v = 77;
      rgba[b - 1] = v;
    }
    return rgba;
  }

  static void ExpectPlacedLikeTheTiles(GDALDatasetH d) {
    double t[6];
    ASSERT_EQ(GDALGetGeoTransform(d, t), CE_None);
    const double size = 2 * kHalfWorld / (256.0 * 8192);
    EXPECT_NEAR(t[0], 2 * kHalfWorld * kMinX / 8192 - kHalfWorld, 1e-6 * kHalfWorld);
    EXPECT_NEAR(t[3], kHalfWorld - 2 * kHalfWorld * kMinY / 8192, 1e-6 * kHalfWorld);
    EXPECT_NEAR(t[1], size, 1e-6 * size);
    EXPECT_NEAR(t[5], -size, 1e-6 * size);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(GDALGetProjectionRef(d));
    ASSERT_NE(srs, nullptr);
    OSRAutoIdentifyEPSG(srs);
    EXPECT_STREQ(OSRGetAuthorityCode(srs, nullptr), "3857");
    OSRDestroySpatialReference(srs);
  }

  TempDir dir;
  TestServer server;
  StartInputs in = qmtest::ExampleInputs(dir);
  MosaicSource source;
  MosaicOptions options;
};

TEST_F(Mosaic, GeoTiffHoldsEveryTileInPlaceAndTheFilledOnesListed) {
  const MosaicReport report = Write(MosaicFormat::kGTiff, "map.tif");
  EXPECT_EQ(report.tiles, 12);
  EXPECT_EQ(report.blank, 1);
  EXPECT_EQ(report.undecodable, 1);
  EXPECT_EQ(qm::SplitTextLines(qm::ReadWholeFile(report.missingList)),
            (std::vector<std::string>{"kv_2413_3081_13.jpg blank", "kv_2414_3083_13.jpg not an image"}));
  GDALDatasetH d = GDALOpen((in.Folder + "/map.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(GDALGetRasterXSize(d), 768);
  EXPECT_EQ(GDALGetRasterYSize(d), 1024);
  ExpectPlacedLikeTheTiles(d);
  const auto colour = ColourOf(2412, 3082);
  const auto centre = CentreOf(d, 0, 2);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(centre[c], colour[c], 3) << c;
  EXPECT_EQ(centre[3], 255);
  EXPECT_EQ(CentreOf(d, 1, 1)[3], 0);  // the blank tile is transparent
  EXPECT_EQ(CentreOf(d, 2, 3)[3], 0);
  GDALClose(d);
}

TEST_F(Mosaic, VrtAndPngWithItsWorldFile) {
  Write(MosaicFormat::kVrt, "map.vrt");
  EXPECT_NE(qm::ReadWholeFile(in.Folder + "/map.vrt").find("relativeToVRT=\"1\">newtask/kv_2412_3080_13.jpg"),
            std::string::npos);
  GDALDatasetH vrt = GDALOpen((in.Folder + "/map.vrt").c_str(), GA_ReadOnly);
  ASSERT_NE(vrt, nullptr);
  ExpectPlacedLikeTheTiles(vrt);
  EXPECT_NEAR(CentreOf(vrt, 2, 0)[0], ColourOf(2414, 3080)[0], 3);
  EXPECT_EQ(CentreOf(vrt, 1, 1)[3], 0);
  GDALClose(vrt);

  options.transparentFill = false;
  ASSERT_TRUE(ParseFill("#102030", options));
  Write(MosaicFormat::kPng, "map.png");
  GDALDatasetH png = GDALOpen((in.Folder + "/map.png").c_str(), GA_ReadOnly);
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(CentreOf(png, 1, 1), (std::array<int, 4>{0x10, 0x20, 0x30, 255}));
  GDALClose(png);
  const auto world = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/map.pgw"));
  ASSERT_EQ(world.size(), 6u);
  const double size = 2 * kHalfWorld / (256.0 * 8192);
  EXPECT_NEAR(std::atof(world[0].c_str()), size, 1e-6 * size);
  EXPECT_NEAR(std::atof(world[4].c_str()), 2 * kHalfWorld * kMinX / 8192 - kHalfWorld + size / 2, 1e-3);
  EXPECT_NEAR(std::atof(world[5].c_str()), kHalfWorld - 2 * kHalfWorld * kMinY / 8192 - size / 2, 1e-3);
  EXPECT_TRUE(qm::FileExists(in.Folder + "/map.prj"));
}

TEST_F(Mosaic, MBTilesKeepsTheDownloadedBytesWithRowsFlipped) {
  Write(MosaicFormat::kMBTiles, "map.mbtiles");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((in.Folder + "/map.mbtiles").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM tiles", -1, &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(q, 0), 10);
  sqlite3_finalize(q);
  sqlite3_prepare_v2(db, "SELECT tile_data FROM tiles WHERE zoom_level=13 AND tile_column=2412 AND tile_row=5111", -1,
                     &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  const std::string blob(static_cast<const char*>(sqlite3_column_blob(q, 0)), sqlite3_column_bytes(q, 0));
  EXPECT_EQ(blob, qm::ReadWholeFile(source.TilePath(2412, 3080)));
  sqlite3_finalize(q);
  sqlite3_prepare_v2(db, "SELECT value FROM metadata WHERE name='format'", -1, &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)), "jpg");
  sqlite3_finalize(q);
  sqlite3_close(db);
}

TEST_F(Mosaic, CancelledOrTooLargeLeavesNoOutput) {
  options.format = MosaicFormat::kGTiff;
  EXPECT_THROW(WriteMosaic(source, in.Folder + "/map.tif", options, [](int64_t done, int64_t) { return done < 5; }),
               MosaicError);
  MosaicSource huge = source;
  huge.maxX = huge.minX + 99;
  huge.maxY = huge.minY + 99;
  options.format = MosaicFormat::kPng;
  try {
    WriteMosaic(huge, in.Folder + "/map.png", options);
    FAIL() << "no error";
  } catch (const MosaicError& e) {
    EXPECT_NE(std::string(e.what()).find("gtiff"), std::string::npos);
  }
  for (const char* name : {"map.tif", ".map.tif.partial", "map.png", ".map.png.partial"}) {
    EXPECT_FALSE(qm::PathExists(in.Folder + "/" + name)) << name;
  }
}

}  // namespace
