// Mosaics of a project made by a real download from the local test server with image tiles, read
// back with GDAL and SQLite: size, EPSG:3857, geotransform, colours, the MBTiles row flip and
// blobs, the world file, and the filled tiles listed.
#include <dirent.h>
#include <fcntl.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <cmath>
#include <cstdlib>

#include "demo/jpeg_codec.h"
#include "engine/tile_source.h"
#include "mosaic/mosaic_writer.h"
#include "mosaic/partial_file.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"
#include "tests/support/child_process.h"
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


// The names in a folder, hidden ones included.
std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) names.push_back(entry->d_name);
  if (dir != nullptr) ::closedir(dir);
  return names;
}

// While it lives, no file grows beyond limit bytes: writes fail as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    signal_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, before_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, signal_);
  }

 private:
  rlimit before_{};
  void (*signal_)(int) = nullptr;
};

// While it lives, the process can open only a few more files than it has open now.
class FewMoreOpenFiles {
 public:
  explicit FewMoreOpenFiles(rlim_t more) {
    ::getrlimit(RLIMIT_NOFILE, &before_);
    const rlimit few{NamesIn("/proc/self/fd").size() + more, before_.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &few);
  }
  ~FewMoreOpenFiles() { ::setrlimit(RLIMIT_NOFILE, &before_); }

 private:
  rlimit before_{};
};

class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& folder) : before_(::getcwd(nullptr, 0)) { EXPECT_EQ(::chdir(folder.c_str()), 0); }
  ~WorkingFolder() {
    EXPECT_EQ(::chdir(before_), 0);
    std::free(before_);
  }

 private:
  char* before_;
};

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
  ExpectPlacedLikeTheTiles(png);  // EPSG:3857 from the .aux.xml beside it
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
  for (const std::string& name : NamesIn(in.Folder)) EXPECT_EQ(name.find("map"), std::string::npos) << name;
}

TEST_F(Mosaic, AFullDiskFailsEveryFormatAndLeavesNothingUnderTheOutputsName) {
  const std::pair<MosaicFormat, std::string> outputs[] = {{MosaicFormat::kGTiff, "map.tif"},
                                                           {MosaicFormat::kVrt, "map.vrt"},
                                                           {MosaicFormat::kMBTiles, "map.mbtiles"},
                                                           {MosaicFormat::kPng, "map.png"},
                                                           {MosaicFormat::kJpeg, "map.jpg"}};
  for (const auto& [format, name] : outputs) {
    const FileSizeLimit full(1024);
    try {
      Write(format, name);
      ADD_FAILURE() << name << " written on a full disk";
    } catch (const MosaicError& e) {
      EXPECT_NE(std::string(e.what()).find("Unable to write to " + in.Folder + "/" + name), std::string::npos) << e.what();
    }
  }
  for (const std::string& name : NamesIn(in.Folder)) {
    EXPECT_TRUE(name.find("map") == std::string::npos && name.find(".partial") == std::string::npos) << name;
  }
}

TEST_F(Mosaic, CutOrMisSizedTilesAreNotImagesInEveryFormat) {
  const std::string whole = qm::ReadWholeFile(source.TilePath(2412, 3082));
  qm::WriteFileAtomic(source.TilePath(2412, 3082), whole.substr(0, whole.size() / 2));
  RgbImage small{128, 128, std::vector<uint8_t>(128 * 128 * 3, 90)};
  qm::WriteFileAtomic(source.TilePath(2414, 3080), EncodeJpeg(small, 90));

  const MosaicReport report = Write(MosaicFormat::kGTiff, "map.tif");
  EXPECT_EQ(report.undecodable, 3);
  const std::string list = qm::ReadWholeFile(report.missingList);
  EXPECT_NE(list.find("kv_2412_3082_13.jpg not an image"), std::string::npos);
  EXPECT_NE(list.find("kv_2414_3080_13.jpg not an image"), std::string::npos);

  EXPECT_EQ(Write(MosaicFormat::kVrt, "map.vrt").undecodable, 3);
  GDALDatasetH vrt = GDALOpen((in.Folder + "/map.vrt").c_str(), GA_ReadOnly);
  ASSERT_NE(vrt, nullptr);
  const GDALColorInterp colours[] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
  for (int b = 1; b <= 4; ++b) EXPECT_EQ(GDALGetRasterColorInterpretation(GDALGetRasterBand(vrt, b)), colours[b - 1]);
  EXPECT_EQ(CentreOf(vrt, 0, 2)[3], 0);
  EXPECT_EQ(CentreOf(vrt, 0, 1)[3], 255);
  GDALClose(vrt);

  Write(MosaicFormat::kMBTiles, "map.mbtiles");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((in.Folder + "/map.mbtiles").c_str(), &db), SQLITE_OK);
  std::map<std::string, std::string> metadata;
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "SELECT name, value FROM metadata", -1, &q, nullptr);
  while (sqlite3_step(q) == SQLITE_ROW) {
    metadata[reinterpret_cast<const char*>(sqlite3_column_text(q, 0))] = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
  }
  sqlite3_finalize(q);
  sqlite3_prepare_v2(db, "SELECT count(*) FROM tiles WHERE tile_column=2412 AND tile_row=5109", -1, &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(q, 0), 0);  // the cut tile's bytes stay out
  sqlite3_finalize(q);
  sqlite3_close(db);
  EXPECT_EQ(metadata["version"], "1");
  // The rectangle the task was asked for, not the outer edges of its tiles.
  double west = 0, south = 0, east = 0, north = 0;
  ASSERT_EQ(std::sscanf(metadata["bounds"].c_str(), "%lf,%lf,%lf,%lf", &west, &south, &east, &north), 4);
  EXPECT_NEAR(west, -74.0, 1e-8);
  EXPECT_NEAR(east, -73.9, 1e-8);
  EXPECT_NEAR(north, 40.7, 1e-8);
  EXPECT_NEAR(south, 40.6, 1e-8);
}

// 900 tiles from a project named by a relative path, into another folder, with fewer files open
// than tiles: the VRT opens from anywhere and shows the tiles.
TEST_F(Mosaic, AVrtOfAnyProjectNeedsFewOpenFilesAndOpensFromAnywhere) {
  qm::CreateDirectory(in.Folder + "/wide");
  qm::CreateDirectory(in.Folder + "/out");
  const std::string tile = source.TilePath(2412, 3080);
  for (int x = kMinX; x < kMinX + 30; ++x) {
    for (int y = kMinY; y < kMinY + 30; ++y) {
      ASSERT_EQ(::link(tile.c_str(), (in.Folder + "/wide/" + SatelliteTileFileName(13, x, y)).c_str()), 0);
    }
  }
  qm::WriteFileAtomic(in.Folder + "/wide.qmtp", "[Zoom]\r\nZoom=13\r\n[XY]\r\nMinX=2412\r\nMinY=3080\r\nMaxX=2441\r\nMaxY=3109\r\n");
  options.format = MosaicFormat::kVrt;
  {
    const WorkingFolder inMaps(in.Folder);
    const FewMoreOpenFiles few(16);
    EXPECT_EQ(WriteMosaic(ReadMosaicSource("wide.qmtp"), "out/wide.vrt", options).missing, 0);
  }
  EXPECT_NE(qm::ReadWholeFile(in.Folder + "/out/wide.vrt").find("relativeToVRT=\"1\">../wide/kv_2441_3109_13.jpg"),
            std::string::npos);
  const WorkingFolder elsewhere("/");
  GDALDatasetH vrt = GDALOpen((in.Folder + "/out/wide.vrt").c_str(), GA_ReadOnly);
  ASSERT_NE(vrt, nullptr);
  const auto centre = CentreOf(vrt, 29, 29);
  EXPECT_NEAR(centre[0], ColourOf(2412, 3080)[0], 3);
  EXPECT_EQ(centre[3], 255);
  GDALClose(vrt);
}

TEST(MosaicLimits, WhatAFormatCannotHoldIsRefusedAtOnceSayingWhy) {
  const auto refusal = [](int zoom, int32_t columns, int32_t rows, MosaicFormat format) {
    MosaicSource area;
    area.zoom = zoom;
    area.maxX = columns - 1;
    area.maxY = rows - 1;
    area.tileFolder = "/nonexistent/";
    MosaicOptions options;
    options.format = format;
    try {
      WriteMosaic(area, "/nonexistent/map", options);
    } catch (const MosaicError& e) {
      return std::string(e.what());
    }
    return std::string("written");
  };
  for (const MosaicFormat format : {MosaicFormat::kGTiff, MosaicFormat::kVrt, MosaicFormat::kMBTiles}) {
    EXPECT_EQ(refusal(16, 65536, 65536, format),
              "The area holds 4294967296 tiles; one task holds at most 2147483647 tiles.");
  }
  EXPECT_NE(refusal(24, 9000000, 1, MosaicFormat::kVrt).find("at most 2147483647 pixels across"), std::string::npos);
  EXPECT_NE(refusal(16, 9000, 9000, MosaicFormat::kGTiff).find("index alone; write it as --format mbtiles"),
            std::string::npos);
  EXPECT_NE(refusal(16, 2000, 2000, MosaicFormat::kVrt).find("too large for GDAL to open"), std::string::npos);
  EXPECT_NE(refusal(16, 300, 1, MosaicFormat::kJpeg).find("76800 x 256 pixels, too large for one PNG or JPEG"),
            std::string::npos);
}

TEST(MosaicPartials, ThoseOfEndedRunsGoAndThoseBeingWrittenAreNamed) {
  TempDir dir;
  const pid_t ended = qmtest::SpawnProgram({"true"});
  ASSERT_EQ(qmtest::WaitForExit(ended), 0);
  const std::string stale = dir.File(".old.tif." + std::to_string(ended) + ".partial");
  const std::string live = dir.File(".new.tif." + std::to_string(::getppid()) + ".partial");
  qm::WriteFileAtomic(stale, std::string(2000000, 'x'));
  qm::WriteFileAtomic(live, "being written");
  qm::WriteFileAtomic(dir.File(".notes.partial"), "not ours");
  const int writer = ::open(live.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);

  const auto found = ClearLeftoverPartials(dir.Path());
  ::close(writer);
  ASSERT_EQ(found.size(), 2u);
  for (const LeftoverPartial& leftover : found) {
    EXPECT_EQ(leftover.removed, leftover.path == stale);
    EXPECT_EQ(qm::PathExists(leftover.path), !leftover.removed);
  }
  EXPECT_EQ(LeftoverText(found[0].path == stale ? found[0] : found[1]),
            "Removed " + stale + " (2.0 MB), left by an interrupted run.");
  EXPECT_TRUE(qm::PathExists(dir.File(".notes.partial")));
}

}  // namespace
