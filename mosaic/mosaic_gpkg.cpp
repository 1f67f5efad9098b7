// OGC GeoPackage tiles: one tile matrix set over the whole EPSG:3857 world, one tile matrix per
// level, so that tile columns and rows are those of the download; each tile's bytes as
// downloaded, and the made lower levels (PNG where they are partly empty, so the empty part
// stays clear).
#include <cmath>

#include "mosaic/mosaic_formats.h"
#include "mosaic/package_tiles.h"
#include "mosaic/sqlite_file.h"

namespace {

constexpr double kHalfWorld = 3.141592653589793 * 6378137.0;
constexpr const char* kTable = "tiles";

double TileMetres(int zoom) { return 2 * kHalfWorld / std::ldexp(1.0, zoom); }

void CreateTables(SqliteFile& db) {
  db.Exec("PRAGMA application_id = 1196444487; PRAGMA user_version = 10200;"
          "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER NOT NULL PRIMARY KEY,"
          " organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,"
          " description TEXT);"
          "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,"
          " identifier TEXT UNIQUE, description TEXT DEFAULT '',"
          " last_change DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),"
          " min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER,"
          " CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));"
          "CREATE TABLE gpkg_tile_matrix_set (table_name TEXT NOT NULL PRIMARY KEY, srs_id INTEGER NOT NULL,"
          " min_x DOUBLE NOT NULL, min_y DOUBLE NOT NULL, max_x DOUBLE NOT NULL, max_y DOUBLE NOT NULL,"
          " CONSTRAINT fk_gtms_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),"
          " CONSTRAINT fk_gtms_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id));"
          "CREATE TABLE gpkg_tile_matrix (table_name TEXT NOT NULL, zoom_level INTEGER NOT NULL,"
          " matrix_width INTEGER NOT NULL, matrix_height INTEGER NOT NULL, tile_width INTEGER NOT NULL,"
          " tile_height INTEGER NOT NULL, pixel_x_size DOUBLE NOT NULL, pixel_y_size DOUBLE NOT NULL,"
          " CONSTRAINT pk_ttm PRIMARY KEY (table_name, zoom_level),"
          " CONSTRAINT fk_tmm_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name));"
          "CREATE TABLE tiles (id INTEGER PRIMARY KEY AUTOINCREMENT, zoom_level INTEGER NOT NULL,"
          " tile_column INTEGER NOT NULL, tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,"
          " UNIQUE (zoom_level, tile_column, tile_row));");
  const SqliteStatement srs = Prepared(db, "INSERT INTO gpkg_spatial_ref_sys VALUES (?, ?, ?, ?, ?, ?)");
  const struct {
    const char* name;
    int id;
    const char* organization;
    std::string definition;
  } systems[] = {{"Undefined cartesian SRS", -1, "NONE", "undefined"},
                 {"Undefined geographic SRS", 0, "NONE", "undefined"},
                 {"WGS 84 geodetic", 4326, "EPSG", EpsgWkt(4326)},
                 {"WGS 84 / Pseudo-Mercator", 3857, "EPSG", EpsgWkt(3857)}};
  for (const auto& system : systems) {
    sqlite3_bind_text(srs.get(), 1, system.name, -1, SQLITE_STATIC);
    sqlite3_bind_int(srs.get(), 2, system.id);
    sqlite3_bind_text(srs.get(), 3, system.organization, -1, SQLITE_STATIC);
    sqlite3_bind_int(srs.get(), 4, system.id);
    sqlite3_bind_text(srs.get(), 5, system.definition.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_null(srs.get(), 6);
    db.Step(srs.get());
  }
}

// The contents' extent in metres (min x, min y, max x, max y): the area a reader opens and zooms
// to, not the tiles' whole squares.
std::array<double, 4> ExtentInMetres(const DegreeBounds& b) {
  return {MercatorXOf(b.west), MercatorYOf(b.south), MercatorXOf(b.east), MercatorYOf(b.north)};
}

void DescribeTiles(SqliteFile& db, const PackageExtent& extent) {
  const std::array<double, 4> box = ExtentInMetres(extent.bounds);
  const SqliteStatement contents = Prepared(db, "INSERT INTO gpkg_contents (table_name, data_type, identifier,"
                                                " min_x, min_y, max_x, max_y, srs_id) VALUES (?, 'tiles', ?, ?, ?, ?, ?, 3857)");
  sqlite3_bind_text(contents.get(), 1, kTable, -1, SQLITE_STATIC);
  sqlite3_bind_text(contents.get(), 2, extent.name.c_str(), -1, SQLITE_TRANSIENT);
  for (int i = 0; i < 4; ++i) sqlite3_bind_double(contents.get(), 3 + i, box[static_cast<size_t>(i)]);
  db.Step(contents.get());
  const SqliteStatement set = Prepared(db, "INSERT INTO gpkg_tile_matrix_set VALUES (?, 3857, ?, ?, ?, ?)");
  sqlite3_bind_text(set.get(), 1, kTable, -1, SQLITE_STATIC);
  const double world[] = {-kHalfWorld, -kHalfWorld, kHalfWorld, kHalfWorld};
  for (int i = 0; i < 4; ++i) sqlite3_bind_double(set.get(), 2 + i, world[i]);
  db.Step(set.get());
  const SqliteStatement matrix = Prepared(db, "INSERT INTO gpkg_tile_matrix VALUES (?, ?, ?, ?, 256, 256, ?, ?)");
  for (int zoom = extent.minZoom; zoom <= extent.maxZoom; ++zoom) {
    const int64_t side = int64_t{1} << zoom;
    sqlite3_bind_text(matrix.get(), 1, kTable, -1, SQLITE_STATIC);
    sqlite3_bind_int(matrix.get(), 2, zoom);
    sqlite3_bind_int64(matrix.get(), 3, side);
    sqlite3_bind_int64(matrix.get(), 4, side);
    sqlite3_bind_double(matrix.get(), 5, TileMetres(zoom) / kMosaicTilePixels);
    sqlite3_bind_double(matrix.get(), 6, TileMetres(zoom) / kMosaicTilePixels);
    db.Step(matrix.get());
  }
}

}  // namespace

PackageExtent WriteGeoPackage(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                     const std::string& blankBytes, TileTally& tally) {
  SqliteFile db(file.Path(), file.Target());
  CreateTables(db);
  db.Exec("BEGIN;");
  PackageExtent extent;
  {
    const SqliteStatement insert =
        Prepared(db, "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES (?, ?, ?, ?)");
    const SqliteStatement select =
        Prepared(db, "SELECT tile_data FROM tiles WHERE zoom_level = ? AND tile_column = ? AND tile_row = ?");
    extent = WritePackageTiles(levels, options, PackageKinds::kMixed, blankBytes, tally,
                               [&](int zoom, int32_t x, int32_t y, const std::string& bytes) {
                                 InsertRow(db, insert.get(), {zoom, x, y}, bytes);
                               },
                               [&](int zoom, int32_t x, int32_t y) { return SelectBlob(db, select.get(), {zoom, x, y}); });
  }
  DescribeTiles(db, extent);
  db.Exec("COMMIT;");
  db.Close();
  return extent;
}
