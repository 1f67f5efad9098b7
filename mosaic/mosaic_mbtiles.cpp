// MBTiles 1.3: each tile's bytes as downloaded (only tiles that decode cleanly) and the made
// lower levels, rows flipped to TMS, and the metadata of the whole set. Its metadata names one
// image format, so every tile is of the kind most downloaded tiles have.
#include <cstdio>

#include "mosaic/mosaic_formats.h"
#include "mosaic/package_tiles.h"
#include "mosaic/sqlite_file.h"

namespace {

void InsertMetadata(SqliteFile& db, const PackageExtent& extent) {
  const DegreeBounds& b = extent.bounds;
  char bounds[160], center[120];
  std::snprintf(bounds, sizeof bounds, "%.9f,%.9f,%.9f,%.9f", b.west, b.south, b.east, b.north);
  std::snprintf(center, sizeof center, "%.9f,%.9f,%d", extent.centerLon, extent.centerLat, extent.centerZoom);
  // "version" is the tileset's own revision; this program writes a tileset once.
  const std::pair<const char*, std::string> metadata[] = {
      {"name", extent.name}, {"format", extent.format}, {"bounds", bounds},
      {"center", center}, {"minzoom", std::to_string(extent.minZoom)}, {"maxzoom", std::to_string(extent.maxZoom)},
      {"type", "baselayer"}, {"version", "1"}};
  const SqliteStatement insert = Prepared(db, "INSERT INTO metadata VALUES (?, ?)");
  for (const auto& [key, value] : metadata) {
    sqlite3_bind_text(insert.get(), 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
    db.Step(insert.get());
  }
}

}  // namespace

PackageExtent WriteMBTiles(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                  const std::string& blankBytes, TileTally& tally) {
  SqliteFile db(file.Path(), file.Target());
  db.Exec("CREATE TABLE metadata (name TEXT, value TEXT);"
          "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
          "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
          "BEGIN;");
  PackageExtent extent;
  {
    const SqliteStatement insert = Prepared(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)");
    const SqliteStatement select =
        Prepared(db, "SELECT tile_data FROM tiles WHERE zoom_level = ? AND tile_column = ? AND tile_row = ?");
    const auto tmsRow = [](int zoom, int32_t y) { return ((int64_t{1} << zoom) - 1) - y; };
    extent = WritePackageTiles(
        levels, options, PackageKinds::kOne, blankBytes, tally,
        [&](int zoom, int32_t x, int32_t y, const std::string& bytes) {
          InsertRow(db, insert.get(), {zoom, x, tmsRow(zoom, y)}, bytes);
        },
        [&](int zoom, int32_t x, int32_t y) { return SelectBlob(db, select.get(), {zoom, x, tmsRow(zoom, y)}); });
  }
  InsertMetadata(db, extent);
  db.Exec("COMMIT;");
  db.Close();
  return extent;
}
