// The SQLite tile store of offline mobile map programs (.sqlitedb): tiles(x, y, z, s, image) with
// the zoom stored inverted as 17 - zoom, rows counted from the north, s always 0, and info
// holding the least and greatest stored z.
#include "mosaic/mosaic_formats.h"
#include "mosaic/package_tiles.h"
#include "mosaic/sqlite_file.h"

namespace {

constexpr int kInvertedZoomBase = 17;

}  // namespace

void WriteSqliteDb(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                   const std::string& blankBytes, TileTally& tally) {
  SqliteFile db(file.Path(), file.Target());
  db.Exec("CREATE TABLE tiles (x INT, y INT, z INT, s INT, image BLOB, PRIMARY KEY (x, y, z, s));"
          "CREATE TABLE info (minzoom INT, maxzoom INT);"
          "CREATE TABLE android_metadata (locale TEXT);"
          "INSERT INTO android_metadata VALUES ('en_US');"
          "BEGIN;");
  PackageExtent extent;
  {
    const SqliteStatement insert = Prepared(db, "INSERT INTO tiles VALUES (?, ?, ?, 0, ?)");
    const SqliteStatement select = Prepared(db, "SELECT image FROM tiles WHERE x = ? AND y = ? AND z = ? AND s = 0");
    extent = WritePackageTiles(
        levels, options, blankBytes, tally,
        [&](int zoom, int32_t x, int32_t y, const std::string& bytes) {
          InsertRow(db, insert.get(), {x, y, kInvertedZoomBase - zoom}, bytes);
        },
        [&](int zoom, int32_t x, int32_t y) { return SelectBlob(db, select.get(), {x, y, kInvertedZoomBase - zoom}); });
  }
  db.Exec("INSERT INTO info VALUES (" + std::to_string(kInvertedZoomBase - extent.maxZoom) + ", " +
          std::to_string(kInvertedZoomBase - extent.minZoom) + ");");
  db.Exec("COMMIT;");
  db.Close();
}
