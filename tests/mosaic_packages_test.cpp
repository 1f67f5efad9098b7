// Tile packages of several levels and GeoTIFFs with overviews, read back as a reader sees them:
// SQLite for the tiles of each level and their bytes, GDAL for the GeoPackage's levels, the
// GeoTIFF's overviews and placement, and pixels of the levels made from the ones below.
#include <dirent.h>
#include <fcntl.h>
#include <gdal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "demo/jpeg_codec.h"
#include "engine/Commonfunc.h"
#include "engine/level_set.h"
#include "engine/task_area.h"
#include "engine/tile_source.h"
#include "mosaic/mosaic_writer.h"
#include "mosaic/partial_file.h"
#include "mosaic/tile_encoder.h"
#include "mosaic/tile_pixels.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"
#include "verify/tile_check.h"

namespace {

constexpr double kHalfWorld = 3.141592653589793 * 6378137.0;
// The fine level: 8 x 6 tiles at zoom 14; the coarse one the same area at zoom 13.
constexpr int kFineZoom = 14, kFineX = 8000, kFineY = 5200, kFineColumns = 8, kFineRows = 6;
constexpr std::array<int, 2> kMissing{8001, 5201}, kTruncated{8002, 5202};

// The area of every level's project file, as a level set names it.
constexpr const char* kRectangleSection =
    "[AREA]\r\nLeftLongitude=15\r\nRightLongitude=16\r\nTopLatitude=47\r\nBottomLatitude=46\r\n";

std::array<uint8_t, 3> ColourOf(int zoom, int x, int y) {
  return {static_cast<uint8_t>(20 + 25 * (x % 8)), static_cast<uint8_t>(30 + 30 * (y % 6)),
          static_cast<uint8_t>(zoom == kFineZoom ? 200 : 60)};
}

std::string SolidJpeg(std::array<uint8_t, 3> colour) {
  RgbImage image{256, 256, {}};
  for (int i = 0; i < 256 * 256; ++i) image.pixels.insert(image.pixels.end(), colour.begin(), colour.end());
  return EncodeJpeg(image, 95);
}

bool Near(const uint8_t* rgba, std::array<uint8_t, 3> colour, int tolerance = 6) {
  for (int c = 0; c < 3; ++c) {
    if (std::abs(int{rgba[c]} - int{colour[static_cast<size_t>(c)]}) > tolerance) return false;
  }
  return true;
}

// The names in a folder, hidden ones included, in order.
std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) names.push_back(entry->d_name);
  if (dir != nullptr) ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

class Query {
 public:
  Query(sqlite3* db, const std::string& sql) { sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr); }
  ~Query() { sqlite3_finalize(statement_); }
  bool Next() { return sqlite3_step(statement_) == SQLITE_ROW; }
  int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) {
    return {static_cast<const char*>(sqlite3_column_blob(statement_, column)),
            static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

struct Packages : ::testing::Test {
  static void SetUpTestSuite() { GDALAllRegister(); }

  void SetUp() override {
    levels = {MakeLevel(kFineZoom - 1, kFineX / 2, kFineY / 2, kFineColumns / 2, kFineRows / 2),
              MakeLevel(kFineZoom, kFineX, kFineY, kFineColumns, kFineRows)};
    const MosaicSource& fine = levels.back();
    ::unlink(fine.TilePath(kMissing[0], kMissing[1]).c_str());
    const std::string cut = fine.TilePath(kTruncated[0], kTruncated[1]);
    qm::WriteFileAtomic(cut, qm::ReadWholeFile(cut).substr(0, 300));
  }

  MosaicSource MakeLevel(int zoom, int minX, int minY, int columns, int rows) {
    const std::string name = "area_z" + std::to_string(zoom);
    qm::CreateDirectory(dir.File(name + "/"));
    for (int x = minX; x < minX + columns; ++x) {
      for (int y = minY; y < minY + rows; ++y) {
        qm::WriteFileAtomic(dir.File(name + "/" + SatelliteTileFileName(zoom, x, y)), SolidJpeg(ColourOf(zoom, x, y)));
      }
    }
    const std::string project = dir.File(name + ".qmtp");
    qm::WriteFileAtomic(project, std::string(kRectangleSection) + "[Zoom]\r\nZoom=" + std::to_string(zoom) +
                                     "\r\n[XY]\r\nMinX=" + std::to_string(minX) + "\r\nMinY=" + std::to_string(minY) +
                                     "\r\nMaxX=" + std::to_string(minX + columns - 1) +
                                     "\r\nMaxY=" + std::to_string(minY + rows - 1) + "\r\n");
    return ReadMosaicSource(project);
  }

  MosaicReport Write(MosaicFormat format, const std::string& name, int lowerZoom = -1) {
    options.format = format;
    options.lowerZoom = lowerZoom;
    return WriteMosaic(levels, dir.File(name), options);
  }

  // Tiles per zoom level, as the query's rows of (zoom, count) say.
  static std::map<int64_t, int64_t> CountsOf(sqlite3* db, const std::string& sql) {
    std::map<int64_t, int64_t> counts;
    for (Query q(db, sql); q.Next();) counts[q.Int(0)] = q.Int(1);
    return counts;
  }

  TempDir dir;
  MosaicLevels levels;
  MosaicOptions options;
};

// Expected tiles per zoom: 46 of the fine level (one missing, one cut short), 12 of the coarse
// one, and the made levels 12, 11 and 10 over the same area.
const std::map<int64_t, int64_t> kTilesPerZoom = {{10, 1}, {11, 1}, {12, 4}, {13, 12}, {14, 46}};

TEST_F(Packages, MBTilesHoldsEveryLevelTheDownloadedBytesAndLevelsMadeFromTheFourBelow) {
  const MosaicReport report = Write(MosaicFormat::kMBTiles, "map.mbtiles", 10);
  EXPECT_EQ(report.tiles, 60);
  EXPECT_EQ(report.missing, 1);
  EXPECT_EQ(report.undecodable, 1) << qm::ReadWholeFile(report.missingList);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("map.mbtiles").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(CountsOf(db, "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level"), kTilesPerZoom);
  std::map<std::string, std::string> metadata;
  for (Query q(db, "SELECT name, value FROM metadata"); q.Next();) metadata[q.Text(0)] = q.Text(1);
  EXPECT_EQ(metadata["minzoom"], "10");
  EXPECT_EQ(metadata["maxzoom"], "14");
  EXPECT_EQ(metadata["format"], "jpg");
  // A downloaded tile of each level, row flipped, byte for byte.
  for (const MosaicSource& level : levels) {
    const int64_t row = (int64_t{1} << level.zoom) - 1 - level.maxY;
    Query q(db, "SELECT tile_data FROM tiles WHERE zoom_level=" + std::to_string(level.zoom) +
                    " AND tile_column=" + std::to_string(level.maxX) + " AND tile_row=" + std::to_string(row));
    ASSERT_TRUE(q.Next());
    EXPECT_EQ(q.Text(0), qm::ReadWholeFile(level.TilePath(level.maxX, level.maxY)));
  }
  // Zoom 12's tile (2000, 1301) is the zoom 13 tiles (4000..4001, 2602) above and nothing below,
  // which a JPEG shows in the fill colour.
  Query q(db, "SELECT tile_data FROM tiles WHERE zoom_level=12 AND tile_column=2000 AND tile_row=" +
                  std::to_string((1 << 12) - 1 - 1301));
  ASSERT_TRUE(q.Next());
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(DecodeTile(q.Text(0), rgba));
  const auto at = [&rgba](int column, int row) { return &rgba[(size_t(row) * 256 + column) * 4]; };
  EXPECT_TRUE(Near(at(64, 64), ColourOf(13, 4000, 2602)));
  EXPECT_TRUE(Near(at(192, 64), ColourOf(13, 4001, 2602)));
  EXPECT_TRUE(Near(at(64, 192), {255, 255, 255}));
  sqlite3_close_v2(db);  // closes once the queries still open are done
}

TEST_F(Packages, GeoPackageOpensInGdalAtEveryLevel) {
  Write(MosaicFormat::kGpkg, "map.gpkg", 11);
  GDALDatasetH d = GDALOpen(dir.File("map.gpkg").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(GDALGetRasterXSize(d), kFineColumns * 256);
  EXPECT_EQ(GDALGetRasterYSize(d), kFineRows * 256);
  EXPECT_EQ(GDALGetOverviewCount(GDALGetRasterBand(d, 1)), 3);  // zoom 13, 12 and 11
  double t[6];
  ASSERT_EQ(GDALGetGeoTransform(d, t), CE_None);
  const double tile = 2 * kHalfWorld / (1 << kFineZoom);
  EXPECT_NEAR(t[0], -kHalfWorld + kFineX * tile, 1e-3);
  EXPECT_NEAR(t[3], kHalfWorld - kFineY * tile, 1e-3);
  EXPECT_NEAR(t[1], tile / 256, 1e-9);
  uint8_t pixel[4];
  ASSERT_EQ(GDALDatasetRasterIO(d, GF_Read, 3 * 256 + 128, 4 * 256 + 128, 1, 1, pixel, 1, 1, GDT_Byte, 4, nullptr, 4, 4, 1),
            CE_None);
  EXPECT_TRUE(Near(pixel, ColourOf(kFineZoom, kFineX + 3, kFineY + 4)));
  // The coarsest level's one tile: its top left quarter is zoom 12's (2000, 1300), itself made
  // from zoom 13's (4000..4001, 2600..2601).
  GDALRasterBandH coarsest = GDALGetOverview(GDALGetRasterBand(d, 1), 2);
  EXPECT_EQ(GDALGetRasterBandXSize(coarsest), kFineColumns * 256 / 8);
  GDALClose(d);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("map.gpkg").c_str(), &db), SQLITE_OK);
  auto expected = kTilesPerZoom;
  expected.erase(10);
  EXPECT_EQ(CountsOf(db, "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level"), expected);
  EXPECT_EQ(CountsOf(db, "SELECT zoom_level, matrix_width FROM gpkg_tile_matrix"),
            (std::map<int64_t, int64_t>{{11, 2048}, {12, 4096}, {13, 8192}, {14, 16384}}));
  Query q(db, "SELECT tile_data FROM tiles WHERE zoom_level=14 AND tile_column=8007 AND tile_row=5205");
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.Text(0), qm::ReadWholeFile(levels.back().TilePath(8007, 5205)));
  sqlite3_close_v2(db);  // closes once the queries still open are done
}

TEST_F(Packages, SqliteDbStoresInvertedZoomsAndRowsFromTheNorth) {
  Write(MosaicFormat::kSqliteDb, "map.sqlitedb", 10);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("map.sqlitedb").c_str(), &db), SQLITE_OK);
  std::map<int64_t, int64_t> expected;
  for (const auto& [zoom, count] : kTilesPerZoom) expected[17 - zoom] = count;
  EXPECT_EQ(CountsOf(db, "SELECT z, count(*) FROM tiles GROUP BY z"), expected);
  EXPECT_EQ(CountsOf(db, "SELECT minzoom, maxzoom FROM info"), (std::map<int64_t, int64_t>{{3, 7}}));
  // Readers that miss a column of info add it to the file: every one they read is there.
  Query info(db, "SELECT tilenumbering, title, tilesize, timecolumn, expireminutes FROM info");
  ASSERT_TRUE(info.Next());
  EXPECT_EQ(info.Text(0) + " " + info.Text(1) + " " + info.Text(2) + " " + info.Text(3) + " " + info.Text(4),
            "BigPlanet area_z13 256 time 0");
  // A downloaded tile's time is its file's, in milliseconds.
  struct stat status {};
  ASSERT_EQ(::stat(levels.back().TilePath(8000, 5200).c_str(), &status), 0);
  Query q(db, "SELECT image, time FROM tiles WHERE z=3 AND x=8000 AND y=5200 AND s=0");
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.Text(0), qm::ReadWholeFile(levels.back().TilePath(8000, 5200)));
  EXPECT_EQ(q.Int(1), int64_t{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1000000);
  sqlite3_close_v2(db);  // closes once the queries still open are done
}

// The pixel at (column, row) of the first band(s) of a band's overview, as RGBA.
std::array<uint8_t, 4> OverviewPixel(GDALDatasetH d, int overview, int column, int row) {
  std::array<uint8_t, 4> rgba{0, 0, 0, 255};
  for (int b = 1; b <= GDALGetRasterCount(d); ++b) {
    GDALRasterBandH band = GDALGetOverview(GDALGetRasterBand(d, b), overview);
    if (GDALRasterIO(band, GF_Read, column, row, 1, 1, &rgba[size_t(b - 1)], 1, 1, GDT_Byte, 0, 0) != CE_None) rgba[0] = 1;
  }
  return rgba;
}

TEST_F(Packages, GeoTiffAndCogCarryOverviewsFromTheRowsAsWritten) {
  for (const auto& [format, compression, name] :
       {std::tuple{MosaicFormat::kGTiff, TiffCompression::kDeflate, "map.tif"},
        std::tuple{MosaicFormat::kGTiff, TiffCompression::kJpeg, "jpeg.tif"},
        std::tuple{MosaicFormat::kCog, TiffCompression::kWebp, "map_cog.tif"},
        std::tuple{MosaicFormat::kCog, TiffCompression::kJpeg, "jpeg_cog.tif"}}) {
    SCOPED_TRACE(name);
    options.compression = compression;
    const MosaicReport report = Write(format, name);
    EXPECT_EQ(report.tiles, kFineColumns * kFineRows);  // the finest level only
    GDALDatasetH d = GDALOpen(dir.File(name).c_str(), GA_ReadOnly);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(GDALGetRasterXSize(d), kFineColumns * 256);
    // 2048 x 1536 pixels halved three times: 256 x 192.
    ASSERT_EQ(GDALGetOverviewCount(GDALGetRasterBand(d, 1)), 3);
    double t[6];
    ASSERT_EQ(GDALGetGeoTransform(d, t), CE_None);
    EXPECT_NEAR(t[0], -kHalfWorld + kFineX * 2 * kHalfWorld / (1 << kFineZoom), 1e-3);
    const bool jpeg = compression == TiffCompression::kJpeg;
    EXPECT_EQ(GDALGetRasterCount(d), jpeg ? 3 : 4);
    const char* layout = GDALGetMetadataItem(d, "LAYOUT", "IMAGE_STRUCTURE");
    EXPECT_EQ(layout != nullptr && std::string(layout) == "COG", format == MosaicFormat::kCog);
    if (jpeg) {
      EXPECT_STREQ(GDALGetMetadataItem(d, "COMPRESSION", "IMAGE_STRUCTURE"), "YCbCr JPEG");
    }
    // Halved once, the tile (8003, 5204) is 128 pixels across; a third time, 32.
    const int tolerance = compression == TiffCompression::kDeflate ? 3 : 12;
    EXPECT_TRUE(Near(OverviewPixel(d, 0, 3 * 128 + 64, 4 * 128 + 64).data(), ColourOf(14, 8003, 5204), tolerance));
    EXPECT_TRUE(Near(OverviewPixel(d, 2, 3 * 32 + 16, 4 * 32 + 16).data(), ColourOf(14, 8003, 5204), tolerance));
    // The missing tile: transparent in the alpha band, or with JPEG (no alpha) in the mask, at
    // every level; the fill colour beneath.
    const auto missing = OverviewPixel(d, 0, 1 * 128 + 64, 1 * 128 + 64);
    if (jpeg) {
      EXPECT_TRUE(Near(missing.data(), {255, 255, 255}, tolerance));
      GDALRasterBandH first = GDALGetRasterBand(d, 1);
      EXPECT_EQ(GDALGetMaskFlags(first), GMF_PER_DATASET);
      const auto maskAt = [](GDALRasterBandH band, int column, int row) {
        uint8_t value = 1;
        GDALRasterIO(GDALGetMaskBand(band), GF_Read, column, row, 1, 1, &value, 1, 1, GDT_Byte, 0, 0);
        return int{value};
      };
      EXPECT_EQ(maskAt(first, 1 * 256 + 128, 1 * 256 + 128), 0);
      EXPECT_EQ(maskAt(first, 3 * 256 + 128, 4 * 256 + 128), 255);
      EXPECT_EQ(maskAt(GDALGetOverview(first, 0), 1 * 128 + 64, 1 * 128 + 64), 0);
      EXPECT_EQ(maskAt(GDALGetOverview(first, 2), 3 * 32 + 16, 4 * 32 + 16), 255);
    } else {
      EXPECT_EQ(missing[3], 0);
    }
    GDALClose(d);
  }
}

// A level of the set never begun is there all the same: its tiles are missing and listed, in a
// package of every level and in a map drawn of the finest level.
TEST_F(Packages, ALevelNotBegunHasEveryTileMissingAndListed) {
  LevelSet set;
  set.LeftLongitude = "15";
  set.RightLongitude = "16";
  set.TopLatitude = "47";
  set.BottomLatitude = "46";
  set.TaskName = "area.qmtp";
  set.zooms = {12, 14};  // zoom 12 not begun
  WriteLevelSet(dir.File("area.qmset"), set);
  levels = ReadMosaicLevels(dir.File("area.qmset"));
  ASSERT_EQ(levels.size(), 3u);
  // Longitudes 15 to 16 and latitudes 47 to 46 at zoom 12: columns 2218 to 2230, rows 1440 to 1457.
  const MosaicSource& planned = levels[0];
  EXPECT_EQ(std::vector<int>({planned.zoom, planned.minX, planned.maxX, planned.minY, planned.maxY}),
            std::vector<int>({12, 2218, 2230, 1440, 1457}));
  const MosaicReport report = Write(MosaicFormat::kMBTiles, "set.mbtiles");
  EXPECT_EQ(report.tiles, 60 + 13 * 18);
  EXPECT_EQ(report.missing, 1 + 13 * 18);
  const std::string list = qm::ReadWholeFile(report.missingList);
  EXPECT_NE(list.find("kv_2218_1440_12.jpg missing\n"), std::string::npos);
  EXPECT_NE(list.find("kv_2230_1457_12.jpg missing\n"), std::string::npos);

  set.zooms = {13, 15};  // the finest level not begun yet: a map of it holds none of its tiles
  WriteLevelSet(dir.File("area.qmset"), set);
  levels = ReadMosaicLevels(dir.File("area.qmset"));
  ASSERT_EQ(levels.back().zoom, 15);
  const MosaicReport finest = Write(MosaicFormat::kVrt, "set.vrt");
  EXPECT_EQ(finest.tiles, 92 * 133);
  EXPECT_EQ(finest.missing, finest.tiles);

  set.finished = {12};  // a finished level whose project is gone: the set is refused
  set.zooms = {12, 14};
  WriteLevelSet(dir.File("area.qmset"), set);
  EXPECT_THROW(ReadMosaicLevels(dir.File("area.qmset")), MosaicError);
}

TEST_F(Packages, CancelledOrUnwritableLeavesNothingUnderTheName) {
  for (const auto& [format, name] : {std::pair{MosaicFormat::kGpkg, "map.gpkg"},
                                     std::pair{MosaicFormat::kSqliteDb, "map.sqlitedb"},
                                     std::pair{MosaicFormat::kCog, "map.tif"}}) {
    options.format = format;
    options.lowerZoom = 8;
    EXPECT_THROW(WriteMosaic(levels, dir.File(name), options, [](int64_t done, int64_t) { return done < 20; }),
                 MosaicError);
    EXPECT_FALSE(qm::FileExists(dir.File(name))) << name;
    EXPECT_THROW(WriteMosaic(levels, dir.File("no such folder/") + name, options), MosaicError);
  }
  // Not a partial file, a missing list or a GeoTIFF on the way to the COG remains.
  EXPECT_EQ(NamesIn(dir.Path()),
            (std::vector<std::string>{".", "..", "area_z13", "area_z13.qmtp", "area_z14", "area_z14.qmtp"}));
}

// Every file the run writes is checked before anything is: never a file of a task or of the set
// (by identity, through links and ".."), never inside a tile folder, never a folder, FIFO or device.
TEST_F(Packages, AnOutputOverWhatTheMapIsMadeFromOrOverNoFileIsRefusedBeforeAnyWrite) {
  LevelSet set;
  set.LeftLongitude = "15";
  set.RightLongitude = "16";
  set.TopLatitude = "47";
  set.BottomLatitude = "46";
  set.TaskName = "area.qmtp";
  set.zooms = {13, 15};  // zoom 15 not begun: its files are not there yet
  WriteLevelSet(dir.File("area.qmset"), set);
  levels = ReadMosaicLevels(dir.File("area.qmset"));
  ASSERT_EQ(::symlink(dir.File("area.qmset").c_str(), dir.File("link.mbtiles").c_str()), 0);
  ASSERT_EQ(::mkfifo(PartialPathFor(dir.File("map.cog.tif")).c_str(), 0644), 0);  // the GeoTIFF a COG is made from
  ASSERT_EQ(::symlink(dir.File("area_z13.qmtp").c_str(), dir.File("map.tif.missing.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.File("fifo.tif").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(dir.File("map.prj").c_str(), 0644), 0);
  ASSERT_TRUE(qm::CreateDirectory(dir.File("folder.gpkg")));
  const bool device = ::mknod(dir.File("null.tif").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as root only
  const std::string setText = qm::ReadWholeFile(dir.File("area.qmset"));
  const auto before = NamesIn(dir.Path());
  struct Refusal {
    std::string output;
    MosaicFormat format;
    std::string reason;
  };
  std::vector<Refusal> refusals = {
      {"area.qmset", MosaicFormat::kMBTiles, " is a file the map is made from"},
      {"area_z14.qmtp", MosaicFormat::kGTiff, " is a file the map is made from"},
      {"area_z13_list.txt", MosaicFormat::kVrt, " is a file the map is made from"},  // not written yet
      {".area.qmset.lock", MosaicFormat::kMBTiles, " is a file the map is made from"},  // a run's lock
      {"area_z15", MosaicFormat::kVrt, " is a file the map is made from"},            // its tile folder
      {"map.cog", MosaicFormat::kCog, " exists and is a FIFO"},
      {"area_z14/../area_z14_failed.ftl", MosaicFormat::kGpkg, " would replace " + dir.File("area_z14_failed.ftl")},
      {"link.mbtiles", MosaicFormat::kMBTiles, " would replace " + dir.File("area.qmset")},
      {"area_z14/" + SatelliteTileFileName(14, kFineX, kFineY), MosaicFormat::kGTiff, " lies inside the tile folder"},
      {"area_z13/new.vrt", MosaicFormat::kVrt, " lies inside the tile folder " + levels[0].tileFolder},
      {"map.tif", MosaicFormat::kGTiff, "map.tif.missing.txt written beside the output"},
      {"map.png", MosaicFormat::kPng, "map.prj written beside the output " + dir.File("map.png") + " exists and is a FIFO"},
      {"fifo.tif", MosaicFormat::kCog, " exists and is a FIFO, not a regular file"},
      {"folder.gpkg", MosaicFormat::kGpkg, " exists and is a folder"}};
  if (device) refusals.push_back({"null.tif", MosaicFormat::kGTiff, " exists and is a device"});
  for (const Refusal& refusal : refusals) {
    options.format = refusal.format;
    try {
      WriteMosaic(levels, dir.File(refusal.output), options);
      ADD_FAILURE() << refusal.output << " was written";
    } catch (const MosaicError& e) {
      EXPECT_NE(std::string(e.what()).find(refusal.reason), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(NamesIn(dir.Path()), before);
  EXPECT_EQ(qm::ReadWholeFile(dir.File("area.qmset")), setText);
  if (!device) return;
  // A link is replaced, never followed: the device it led to stays a device.
  ASSERT_EQ(::symlink(dir.File("null.tif").c_str(), dir.File("to-device.mbtiles").c_str()), 0);
  options.format = MosaicFormat::kMBTiles;
  WriteMosaic(levels, dir.File("to-device.mbtiles"), options);
  struct stat st {};
  EXPECT_TRUE(::lstat(dir.File("to-device.mbtiles").c_str(), &st) == 0 && S_ISREG(st.st_mode));
  EXPECT_TRUE(::lstat(dir.File("null.tif").c_str(), &st) == 0 && S_ISCHR(st.st_mode));
}

// Tile files that are no regular file, or larger than any tile, are never read (a link to
// /dev/zero, a FIFO holding an image, a folder, an image padded beyond 16 MiB): the combiner and
// verify take each for "not an image", and list it.
TEST_F(Packages, TilesThatAreNoRegularFilesOrTooLargeAreNotImagesAndNeverRead) {
  const MosaicSource& fine = levels.back();
  std::vector<std::string> odd;
  for (int x = kFineX + 3; x < kFineX + 7; ++x) {
    odd.push_back(fine.TilePath(x, kFineY));
    ::unlink(odd.back().c_str());
  }
  const std::string jpeg = SolidJpeg({1, 2, 3});
  ASSERT_EQ(::symlink("/dev/zero", odd[0].c_str()), 0);
  ASSERT_TRUE(qm::CreateDirectory(odd[1]));
  qm::WriteFileAtomic(odd[2], jpeg);
  ASSERT_EQ(::truncate(odd[2].c_str(), kMaxTileFileBytes + 1), 0);
  // The FIFO keeps an image for whoever reads it: the test's own reader keeps the pipe alive.
  ASSERT_EQ(::mkfifo(odd[3].c_str(), 0644), 0);
  const int reader = ::open(odd[3].c_str(), O_RDONLY | O_NONBLOCK);
  const int writer = ::open(odd[3].c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_EQ(::write(writer, jpeg.data(), jpeg.size()), static_cast<ssize_t>(jpeg.size()));
  ::close(writer);

  const MosaicReport report = Write(MosaicFormat::kMBTiles, "odd.mbtiles");
  EXPECT_EQ(report.undecodable, 1 + 4);
  const std::string list = qm::ReadWholeFile(report.missingList);
  for (const std::string& path : odd) {
    EXPECT_NE(list.find(qm::ExtractFileName(path) + " not an image\n"), std::string::npos) << path;
    EXPECT_EQ(CheckTileFile(path), TileCheck::kNotImage) << path;
  }
  char kept[8];
  EXPECT_EQ(::read(reader, kept, sizeof kept), static_cast<ssize_t>(sizeof kept));  // nobody took the image
  ::close(reader);
}

// A 16-bit PNG tile is drawn in its own colours, as 8 bits; a VRT, which references the tile as
// it is, lists it instead.
TEST_F(Packages, SixteenBitTilesAreDrawnInTheirColoursOrListed) {
  const std::array<uint8_t, 3> colour = ColourOf(kFineZoom, kFineX + 3, kFineY + 1);
  GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", 256, 256, 3, GDT_UInt16, nullptr);
  for (int b = 1; b <= 3; ++b) GDALFillRaster(GDALGetRasterBand(memory, b), colour[b - 1] * 257.0, 0);
  const std::string path = levels.back().TilePath(kFineX + 3, kFineY + 1);
  GDALClose(GDALCreateCopy(GDALGetDriverByName("PNG"), path.c_str(), memory, FALSE, nullptr, nullptr, nullptr));
  GDALClose(memory);
  levels = {levels.back()};
  EXPECT_EQ(Write(MosaicFormat::kGTiff, "wide.tif").undecodable, 1);  // the tile cut short
  GDALDatasetH d = GDALOpen(dir.File("wide.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  std::array<uint8_t, 4> pixel{};
  for (int b = 1; b <= 4; ++b) {
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(d, b), GF_Read, 3 * 256 + 100, 256 + 100, 1, 1, &pixel[b - 1], 1, 1,
                           GDT_Byte, 0, 0),
              CE_None);
  }
  GDALClose(d);
  EXPECT_EQ(pixel, (std::array<uint8_t, 4>{colour[0], colour[1], colour[2], 255}));
  const MosaicReport vrt = Write(MosaicFormat::kVrt, "wide.vrt");
  EXPECT_EQ(vrt.undecodable, 2);
  EXPECT_NE(qm::ReadWholeFile(vrt.missingList).find(SatelliteTileFileName(14, kFineX + 3, kFineY + 1) + " not an image"),
            std::string::npos);
}

// The fine level's task followed a shape over its western four columns: the eastern tiles, though
// their files are there (or missing), are neither drawn, packed nor listed.
TEST_F(Packages, TilesOutsideTheShapeStayEmptyAndAreNotListedMissing) {
  const auto lon = [](double x) { return std::to_string(TileXToLon(x, kFineZoom)); };
  const auto lat = [](double y) { return std::to_string(TileYToLat(y, kFineZoom)); };
  const std::string west = lon(kFineX + 0.1), east = lon(kFineX + 3.9);
  const std::string north = lat(kFineY + 0.1), south = lat(kFineY + kFineRows - 0.1);
  qm::WriteFileAtomic(dir.File("area_z14_area.geojson"),
                      "{\"type\":\"Polygon\",\"coordinates\":[[[" + west + "," + north + "],[" + east + "," + north + "],[" +
                          east + "," + south + "],[" + west + "," + south + "],[" + west + "," + north + "]]]}");
  qm::IniFile(dir.File("area_z14.qmtp")).WriteString(kAreaSection, "File", "area_z14_area.geojson");
  ::unlink(levels.back().TilePath(kFineX + 5, kFineY + 3).c_str());
  levels = {ReadMosaicSource(dir.File("area_z14.qmtp"))};

  const MosaicReport packed = Write(MosaicFormat::kMBTiles, "shape.mbtiles", kFineZoom - 1);
  EXPECT_EQ(packed.tiles, 4 * kFineRows);
  EXPECT_EQ(packed.missing, 1);
  EXPECT_EQ(packed.undecodable, 1);
  const std::string listed = qm::ReadWholeFile(packed.missingList);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 2) << listed;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("shape.mbtiles").c_str(), &db), SQLITE_OK);
  // Zoom 13: the four columns make two; their six rows three.
  EXPECT_EQ(CountsOf(db, "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level"),
            (std::map<int64_t, int64_t>{{13, 6}, {14, 4 * kFineRows - 2}}));
  EXPECT_EQ(CountsOf(db, "SELECT count(*), max(tile_column) FROM tiles WHERE zoom_level=14"),
            (std::map<int64_t, int64_t>{{4 * kFineRows - 2, kFineX + 3}}));
  sqlite3_close_v2(db);  // closes once the queries still open are done

  const MosaicReport drawn = Write(MosaicFormat::kGTiff, "shape.tif");
  EXPECT_EQ(drawn.tiles, 4 * kFineRows);
  EXPECT_EQ(drawn.Filled(), 2);
  GDALDatasetH d = GDALOpen(dir.File("shape.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  uint8_t pixel[4];
  const auto at = [&](int column, int row) {
    return GDALDatasetRasterIO(d, GF_Read, column * 256 + 128, row * 256 + 128, 1, 1, pixel, 1, 1, GDT_Byte, 4, nullptr,
                               4, 4, 1) == CE_None;
  };
  ASSERT_TRUE(at(3, 4));
  EXPECT_TRUE(Near(pixel, ColourOf(kFineZoom, kFineX + 3, kFineY + 4)));
  EXPECT_EQ(pixel[3], 255);
  ASSERT_TRUE(at(6, 4));  // its file is there, but it lies outside
  EXPECT_EQ(pixel[3], 0);
  GDALClose(d);
}

// 130 x 8 tiles from column 7990, the west half one colour, the east half another: more than two
// bands of 64 columns (the first cut short), and levels more than six steps above, made from those
// below as written. The coarsest levels still show both halves in place.
TEST_F(Packages, AWideAreaIsMadeInBandsAndItsCoarsestLevelsFromTheLevelsWritten) {
  constexpr int kWest = 7990, kColumns = 130, kRows = 8, kEastFrom = 8055;
  const std::array<uint8_t, 3> westColour{200, 40, 40}, eastColour{40, 60, 210};
  const std::string west = SolidJpeg(westColour), east = SolidJpeg(eastColour);
  qm::CreateDirectory(dir.File("wide/"));
  for (int x = kWest; x < kWest + kColumns; ++x) {
    for (int y = kFineY; y < kFineY + kRows; ++y) {
      const std::string tile = dir.File("wide/" + SatelliteTileFileName(kFineZoom, x, y));
      qm::WriteFileAtomicUnflushed(tile, x < kEastFrom ? west : east);
    }
  }
  // The GeoTIFF needs no more than the first row: its overviews' pixels are exact.
  const auto project = [&](int rows) {
    qm::WriteFileAtomic(dir.File("wide.qmtp"), "[Zoom]\r\nZoom=14\r\n[XY]\r\nMinX=" + std::to_string(kWest) +
                                                   "\r\nMinY=" + std::to_string(kFineY) + "\r\nMaxX=" +
                                                   std::to_string(kWest + kColumns - 1) + "\r\nMaxY=" +
                                                   std::to_string(kFineY + rows - 1) + "\r\n");
    return MosaicLevels{ReadMosaicSource(dir.File("wide.qmtp"))};
  };
  levels = project(kRows);

  Write(MosaicFormat::kMBTiles, "wide.mbtiles", kFineZoom - 8);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("wide.mbtiles").c_str(), &db), SQLITE_OK);
  std::map<int64_t, int64_t> expected;
  for (int step = 0; step <= 8; ++step) {
    expected[kFineZoom - step] = (((kWest + kColumns - 1) >> step) - (kWest >> step) + 1) *
                                 (((kFineY + kRows - 1) >> step) - (kFineY >> step) + 1);
  }
  EXPECT_EQ(CountsOf(db, "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level"), expected);
  // Zoom 6's one tile, a pixel per tile below: columns 7990, 8055 and 8119 are its pixels 54,
  // 119 and 183, row 5200 its pixel row 80.
  Query q(db, "SELECT tile_data FROM tiles WHERE zoom_level=6");
  ASSERT_TRUE(q.Next());
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(DecodeTile(q.Text(0), rgba));
  const int row = kFineY % 256 + 4;
  EXPECT_TRUE(Near(&rgba[(size_t(row) * 256 + 70) * 4], westColour, 12));
  EXPECT_TRUE(Near(&rgba[(size_t(row) * 256 + 170) * 4], eastColour, 12));
  EXPECT_TRUE(Near(&rgba[(size_t(row) * 256 + 20) * 4], {255, 255, 255}, 12));  // nothing there: the fill
  sqlite3_close_v2(db);  // closes once the queries still open are done

  levels = project(1);
  Write(MosaicFormat::kGTiff, "wide.tif");
  GDALDatasetH d = GDALOpen(dir.File("wide.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  // 33,280 x 256 pixels halved eight times: 130 x 1.
  ASSERT_EQ(GDALGetOverviewCount(GDALGetRasterBand(d, 1)), 8);
  EXPECT_EQ(GDALGetRasterBandXSize(GDALGetOverview(GDALGetRasterBand(d, 1), 7)), kColumns);
  for (int overview : {5, 6, 7}) {
    SCOPED_TRACE(overview);
    const int tilePixels = 256 >> (overview + 1);
    EXPECT_TRUE(Near(OverviewPixel(d, overview, 10 * tilePixels, 0).data(), westColour, 3));
    EXPECT_TRUE(Near(OverviewPixel(d, overview, 120 * tilePixels, 0).data(), eastColour, 3));
    EXPECT_EQ(OverviewPixel(d, overview, 120 * tilePixels, 0)[3], 255);
  }
  GDALClose(d);
}

// PNG tiles, each opaque in its west half and clear in its east half: the level made below is PNG
// too, and keeps both halves of each tile where they were.
TEST_F(Packages, PngTilesKeepTheirTransparencyInTheLevelMadeBelow) {
  TileRgba half(size_t{256} * 256 * 4, 0);
  for (size_t i = 0; i < 256 * 256; ++i) {
    if (i % 256 < 128) std::copy_n(std::array<uint8_t, 4>{10, 200, 30, 255}.data(), 4, &half[i * 4]);
  }
  const std::string png = EncodeTile(half, TileImageKind::kPng, {255, 255, 255});
  qm::CreateDirectory(dir.File("png/"));
  for (int x = kFineX; x < kFineX + 2; ++x) {
    for (int y = kFineY; y < kFineY + 2; ++y) qm::WriteFileAtomic(dir.File("png/" + SatelliteTileFileName(14, x, y)), png);
  }
  qm::WriteFileAtomic(dir.File("png.qmtp"), "[Zoom]\r\nZoom=14\r\n[XY]\r\nMinX=8000\r\nMinY=5200\r\nMaxX=8001\r\nMaxY=5201\r\n");
  levels = {ReadMosaicSource(dir.File("png.qmtp"))};
  Write(MosaicFormat::kMBTiles, "png.mbtiles", kFineZoom - 1);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("png.mbtiles").c_str(), &db), SQLITE_OK);
  Query format(db, "SELECT value FROM metadata WHERE name='format'");
  ASSERT_TRUE(format.Next());
  EXPECT_EQ(format.Text(0), "png");
  Query q(db, "SELECT tile_data FROM tiles WHERE zoom_level=13");
  ASSERT_TRUE(q.Next());
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(DecodeTile(q.Text(0), rgba));
  for (const int row : {20, 200}) {
    for (const int column : {20, 150}) {
      const uint8_t* pixel = &rgba[(size_t(row) * 256 + column) * 4];
      EXPECT_TRUE(Near(pixel, {10, 200, 30}, 1));
      EXPECT_EQ(pixel[3], 255);
      EXPECT_EQ(pixel[64 * 4 + 3], 0) << row << " " << column + 64;
    }
  }
  sqlite3_close_v2(db);  // closes once the queries still open are done
}

}  // namespace

namespace {

// The rectangle asked for inside the fine level's tiles, half a tile in from its edges.
const DegreeBounds kAsked{TileXToLon(kFineX + 1.5, kFineZoom), TileYToLat(kFineY + 4.5, kFineZoom),
                          TileXToLon(kFineX + 6.5, kFineZoom), TileYToLat(kFineY + 0.5, kFineZoom)};

// The fixture's two levels as the set "eu" over kAsked.
MosaicLevels AskedSet(const TempDir& dir) {
  LevelSet set;
  set.LeftLongitude = std::to_string(kAsked.west);
  set.RightLongitude = std::to_string(kAsked.east);
  set.TopLatitude = std::to_string(kAsked.north);
  set.BottomLatitude = std::to_string(kAsked.south);
  set.TaskName = "area.qmtp";
  set.zooms = {kFineZoom - 1, kFineZoom};
  WriteLevelSet(dir.File("eu.qmset"), set);
  for (const int zoom : {kFineZoom - 1, kFineZoom}) {
    qm::IniFile project(dir.File("area_z" + std::to_string(zoom) + ".qmtp"));
    project.WriteString("AREA", "LeftLongitude", set.LeftLongitude);
    project.WriteString("AREA", "RightLongitude", set.RightLongitude);
    project.WriteString("AREA", "TopLatitude", set.TopLatitude);
    project.WriteString("AREA", "BottomLatitude", set.BottomLatitude);
  }
  std::rename(dir.File("area_z13.qmtp").c_str(), dir.File("eu_z13.qmtp").c_str());
  return ReadMosaicLevels(dir.File("eu.qmset"));
}

}  // namespace

// A set's packages carry the set's name, and the area asked for as their extent and first view,
// which GDAL opens as a raster of that area; the summary names the levels made and what the file
// holds.
TEST_F(Packages, ASetsPackagesAreNamedAfterTheSetAndCoverTheAreaAsked) {
  levels = AskedSet(dir);
  const MosaicReport report = Write(MosaicFormat::kMBTiles, "eu.mbtiles", 10);
  EXPECT_EQ(MosaicSummaryText(report),
            "60 tiles, 2 filled (missing 1, blank 0, not an image 1); zooms 10\u201314, of which 10\u201312 made from "
            "the tiles below; 64 tiles in the file. The levels made from the tiles below are JPEG, which keeps no "
            "transparency: where they are partly empty they are filled with #FFFFFF.");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("eu.mbtiles").c_str(), &db), SQLITE_OK);
  std::map<std::string, std::string> metadata;
  for (Query q(db, "SELECT name, value FROM metadata"); q.Next();) metadata[q.Text(0)] = q.Text(1);
  sqlite3_close_v2(db);  // closes once the queries still open are done
  EXPECT_EQ(metadata["name"], "eu");
  std::array<double, 4> bounds{};
  ASSERT_EQ(std::sscanf(metadata["bounds"].c_str(), "%lf,%lf,%lf,%lf", &bounds[0], &bounds[1], &bounds[2], &bounds[3]), 4);
  EXPECT_NEAR(bounds[0], kAsked.west, 1e-6);
  EXPECT_NEAR(bounds[1], kAsked.south, 1e-6);
  EXPECT_NEAR(bounds[2], kAsked.east, 1e-6);
  EXPECT_NEAR(bounds[3], kAsked.north, 1e-6);
  double lon = 0, lat = 0;
  int zoom = 0;
  ASSERT_EQ(std::sscanf(metadata["center"].c_str(), "%lf,%lf,%d", &lon, &lat, &zoom), 3);
  EXPECT_NEAR(lon, TileXToLon(kFineX + 4, kFineZoom), 1e-6);
  EXPECT_NEAR(lat, TileYToLat(kFineY + 2.5, kFineZoom), 1e-6);  // the middle as the map shows it
  EXPECT_EQ(zoom, kFineZoom - 1);  // 1280 x 1024 pixels at the finest zoom: half that fits a view

  Write(MosaicFormat::kGpkg, "eu.gpkg");
  GDALDatasetH d = GDALOpen(dir.File("eu.gpkg").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(GDALGetRasterXSize(d), 5 * 256);
  EXPECT_EQ(GDALGetRasterYSize(d), 4 * 256);
  EXPECT_STREQ(GDALGetMetadataItem(d, "IDENTIFIER", nullptr), "eu");
  GDALClose(d);

  // A rectangle of no height, edited so by hand, is no area: the tiles' edges stand instead.
  qm::IniFile(dir.File("area_z14.qmtp")).WriteString("AREA", "BottomLatitude", std::to_string(kAsked.north));
  levels = {ReadMosaicSource(dir.File("area_z14.qmtp"))};
  Write(MosaicFormat::kGpkg, "flat.gpkg");
  d = GDALOpen(dir.File("flat.gpkg").c_str(), GA_ReadOnly);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(GDALGetRasterYSize(d), kFineRows * 256);
  GDALClose(d);
}

// Three PNG tiles among JPEG ones, the first of them among them: an MBTiles file names one format,
// that of most tiles, and holds only that; a GeoPackage keeps each tile as it is and makes the
// partly empty tiles above PNG with their empty part clear.
TEST_F(Packages, OnePackageFormatForMixedTilesAndClearMadeTilesWhereFormatsMayMix) {
  TileRgba opaque(size_t{256} * 256 * 4, 255);
  const std::string png = EncodeTile(opaque, TileImageKind::kPng, {0, 0, 0});
  for (int x = kFineX; x < kFineX + 3; ++x) qm::WriteFileAtomic(levels.back().TilePath(x, kFineY), png);
  const MosaicReport report = Write(MosaicFormat::kMBTiles, "mixed.mbtiles");
  EXPECT_EQ(report.reencoded, 3);
  EXPECT_NE(MosaicSummaryText(report).find("; 3 PNG tiles encoded as JPEG, the format of most tiles."),
            std::string::npos);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("mixed.mbtiles").c_str(), &db), SQLITE_OK);
  Query format(db, "SELECT value FROM metadata WHERE name='format'");
  ASSERT_TRUE(format.Next());
  EXPECT_EQ(format.Text(0), "jpg");
  int64_t tiles = 0;
  for (Query q(db, "SELECT tile_data FROM tiles"); q.Next(); ++tiles) {
    TileImageKind kind{};
    EXPECT_TRUE(TileImageKindOf(q.Text(0), kind) && kind == TileImageKind::kJpeg);
  }
  EXPECT_EQ(tiles, report.packed);
  sqlite3_close_v2(db);  // closes once the queries still open are done

  Write(MosaicFormat::kGpkg, "mixed.gpkg", 12);
  ASSERT_EQ(sqlite3_open(dir.File("mixed.gpkg").c_str(), &db), SQLITE_OK);
  Query pngs(db, "SELECT count(*) FROM tiles WHERE zoom_level=14 AND hex(substr(tile_data, 1, 4))='89504E47'");
  ASSERT_TRUE(pngs.Next());
  EXPECT_EQ(pngs.Int(0), 3);
  // Zoom 12's tile (2000, 1301) has tiles of zoom 13 in its top half only.
  Query made(db, "SELECT tile_data FROM tiles WHERE zoom_level=12 AND tile_column=2000 AND tile_row=1301");
  ASSERT_TRUE(made.Next());
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(DecodeTile(made.Text(0), rgba));
  EXPECT_EQ(rgba[(size_t(64) * 256 + 64) * 4 + 3], 255);
  EXPECT_EQ(rgba[(size_t(192) * 256 + 64) * 4 + 3], 0);
  sqlite3_close_v2(db);  // closes once the queries still open are done
}

// The kind of most tiles decides, blank tiles (the program's blank JPEG) left out of the count:
// 15 PNG tiles against 8 JPEG ones and 24 blank ones make a PNG package; a package without a
// tile says JPEG.
TEST_F(Packages, TheFormatOfMostImagesDecidesAndBlankTilesAreNoImages) {
  qm::WriteFileAtomic(dir.File("blank.jpg"), SolidJpeg({1, 2, 3}));
  options.blankTileFile = dir.File("blank.jpg");
  const std::string png = EncodeTile(TileRgba(size_t{256} * 256 * 4, 255), TileImageKind::kPng, {0, 0, 0});
  const MosaicSource& fine = levels.back();
  for (int x = kFineX; x < kFineX + kFineColumns; ++x) {
    for (int y = kFineY; y < kFineY + 5; ++y) {
      if (x == kMissing[0] && y == kMissing[1]) continue;
      qm::WriteFileAtomic(fine.TilePath(x, y), y < kFineY + 2 ? png : qm::ReadWholeFile(options.blankTileFile));
    }
  }
  levels = {fine};
  const MosaicReport report = Write(MosaicFormat::kMBTiles, "most.mbtiles");
  EXPECT_EQ(report.blank, 24);
  EXPECT_EQ(report.packageFormat, "png");
  EXPECT_EQ(report.reencoded, 8);

  qm::WriteFileAtomic(dir.File("none.qmtp"), "[Zoom]\r\nZoom=14\r\n[XY]\r\nMinX=100\r\nMinY=100\r\nMaxX=101\r\nMaxY=100\r\n");
  levels = {ReadMosaicSource(dir.File("none.qmtp"))};
  EXPECT_EQ(Write(MosaicFormat::kMBTiles, "none.mbtiles").packageFormat, "jpg");
}

// Above zoom 17 the inverted zoom of a .sqlitedb goes below 0: stored so, and the summary says so.
TEST_F(Packages, SqliteDbAboveZoom17StoresZBelowZeroAndSaysSo) {
  qm::CreateDirectory(dir.File("deep/"));
  qm::WriteFileAtomic(dir.File("deep/" + SatelliteTileFileName(18, 1000, 1000)), SolidJpeg({9, 9, 9}));
  qm::WriteFileAtomic(dir.File("deep.qmtp"), "[Zoom]\r\nZoom=18\r\n[XY]\r\nMinX=1000\r\nMinY=1000\r\nMaxX=1000\r\nMaxY=1000\r\n");
  levels = {ReadMosaicSource(dir.File("deep.qmtp"))};
  const MosaicReport report = Write(MosaicFormat::kSqliteDb, "deep.sqlitedb");
  EXPECT_NE(MosaicSummaryText(report).find("Zooms above 17 are stored with z below 0"), std::string::npos);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("deep.sqlitedb").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(CountsOf(db, "SELECT z, count(*) FROM tiles GROUP BY z"), (std::map<int64_t, int64_t>{{-1, 1}}));
  sqlite3_close_v2(db);  // closes once the queries still open are done
}
