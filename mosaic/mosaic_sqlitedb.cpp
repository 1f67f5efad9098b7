// The SQLite tile store of offline mobile map programs (.sqlitedb): tiles(x, y, z, s, image, time)
// with the zoom stored inverted as 17 - zoom (BigPlanet numbering), rows counted from the north,
// s always 0, and info saying so, so that no reader has to add what it misses to the file.
#include <sys/stat.h>

#include <chrono>

#include "mosaic/mosaic_formats.h"
#include "mosaic/package_tiles.h"
#include "mosaic/sqlite_file.h"

namespace {

constexpr int kInvertedZoomBase = 17;

int64_t MillisecondsNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// When the tile was stored: a downloaded tile's file time (the server's Last-Modified), the
// package's making for a made tile.
int64_t TileTime(const MosaicLevels& levels, int zoom, int32_t x, int32_t y, int64_t now) {
  for (const MosaicSource& level : levels) {
    struct stat status {};
    if (level.zoom == zoom && ::stat(level.TilePath(x, y).c_str(), &status) == 0) {
      return int64_t{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1000000;
    }
  }
  return now;
}

// What a reader takes from info: the stored z range, the numbering, a title, the tile size, the
// tiles' time column, and that the tiles never expire (0), being kept offline.
void WriteInfo(SqliteFile& db, const PackageExtent& extent) {
  const SqliteStatement info = Prepared(db, "INSERT INTO info VALUES (?, ?, 'BigPlanet', ?, 256, 'time', 0)");
  sqlite3_bind_int(info.get(), 1, kInvertedZoomBase - extent.maxZoom);
  sqlite3_bind_int(info.get(), 2, kInvertedZoomBase - extent.minZoom);
  sqlite3_bind_text(info.get(), 3, extent.name.c_str(), -1, SQLITE_TRANSIENT);
  db.Step(info.get());
}

}  // namespace

PackageExtent WriteSqliteDb(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                            const std::string& blankBytes, TileTally& tally) {
  SqliteFile db(file.Path(), file.Target());
  db.Exec("CREATE TABLE tiles (x INT, y INT, z INT, s INT, image BLOB, time INTEGER, PRIMARY KEY (x, y, z, s));"
          "CREATE TABLE info (minzoom INT, maxzoom INT, tilenumbering TEXT, title TEXT, tilesize INT,"
          " timecolumn TEXT, expireminutes INT);"
          "CREATE TABLE android_metadata (locale TEXT);"
          "INSERT INTO android_metadata VALUES ('en_US');"
          "BEGIN;");
  PackageExtent extent;
  const int64_t now = MillisecondsNow();
  {
    const SqliteStatement insert = Prepared(db, "INSERT INTO tiles VALUES (?, ?, ?, 0, ?, ?)");
    const SqliteStatement select = Prepared(db, "SELECT image FROM tiles WHERE x = ? AND y = ? AND z = ? AND s = 0");
    extent = WritePackageTiles(
        levels, options, PackageKinds::kAsDownloaded, blankBytes, tally,
        [&](int zoom, int32_t x, int32_t y, const std::string& bytes) {
          sqlite3_bind_int64(insert.get(), 5, TileTime(levels, zoom, x, y, now));
          InsertRow(db, insert.get(), {x, y, kInvertedZoomBase - zoom}, bytes);
        },
        [&](int zoom, int32_t x, int32_t y) { return SelectBlob(db, select.get(), {x, y, kInvertedZoomBase - zoom}); });
  }
  WriteInfo(db, extent);
  db.Exec("COMMIT;");
  db.Close();
  if (extent.maxZoom > kInvertedZoomBase) {
    extent.notes.push_back("Zooms above 17 are stored with z below 0 (17 - zoom); readers that stop at z 0 do not "
                           "show them.");
  }
  return extent;
}
