// MBTiles 1.3: each tile's bytes as downloaded (only tiles that decode cleanly), rows flipped to
// TMS, and the metadata. Every SQLite error fails the run.
#include <sqlite3.h>

#include <cstdio>
#include <memory>

#include "mosaic/mosaic_formats.h"
#include "platform/errors.h"

namespace {

std::string TileFormatOf(const std::string& bytes) {
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) return "jpg";
  if (bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0) return "png";
  return "";
}

class Database {
 public:
  Database(const std::string& path, std::string output) : output_(std::move(output)) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "";
      sqlite3_close(db_);
      throw MosaicError(WithReason(qm::CannotCreateFileText(output_), reason));
    }
  }
  ~Database() { sqlite3_close(db_); }
  void Exec(const char* sql) { Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr), SQLITE_OK);
    return statement;
  }
  void Step(sqlite3_stmt* statement) {
    Check(sqlite3_step(statement), SQLITE_DONE);
    sqlite3_reset(statement);
  }
  void Close() {
    const int result = sqlite3_close(db_);
    db_ = nullptr;
    Check(result, SQLITE_OK);
  }

 private:
  void Check(int result, int expected) {
    if (result != expected) throw MosaicError(UnableToWriteBecause(output_, sqlite3_errstr(result)));
  }

  sqlite3* db_ = nullptr;
  std::string output_;
};

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

void InsertMetadata(Database& db, const MosaicSource& source, const std::string& format) {
  const DegreeBounds b = BoundsOf(source);
  char bounds[160], center[120];
  std::snprintf(bounds, sizeof bounds, "%.9f,%.9f,%.9f,%.9f", b.west, b.south, b.east, b.north);
  std::snprintf(center, sizeof center, "%.9f,%.9f,%d", (b.west + b.east) / 2, (b.south + b.north) / 2, source.zoom);
  // "version" is the tileset's own revision; this program writes a tileset once.
  const std::pair<const char*, std::string> metadata[] = {
      {"name", source.name}, {"format", format.empty() ? "jpg" : format}, {"bounds", bounds}, {"center", center},
      {"minzoom", std::to_string(source.zoom)}, {"maxzoom", std::to_string(source.zoom)}, {"type", "baselayer"},
      {"version", "1"}};
  const Statement insert(db.Prepare("INSERT INTO metadata VALUES (?, ?)"), sqlite3_finalize);
  for (const auto& [name, value] : metadata) {
    sqlite3_bind_text(insert.get(), 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
    db.Step(insert.get());
  }
}

}  // namespace

void WriteMBTiles(const MosaicSource& source, const PartialFile& file, const TileLoader& loader, TileTally& tally) {
  Database db(file.Path(), file.Target());
  // The file is renamed into place only when complete and flushed, so SQLite's own journal and
  // flushing add nothing.
  db.Exec("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  db.Exec("CREATE TABLE metadata (name TEXT, value TEXT);"
          "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
          "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
          "BEGIN;");
  std::string format;
  {
    const Statement insert(db.Prepare("INSERT INTO tiles VALUES (?, ?, ?, ?)"), sqlite3_finalize);
    const int64_t flip = (int64_t{1} << source.zoom) - 1;
    for (int32_t y = source.minY; y <= source.maxY; ++y) {
      for (int32_t x = source.minX; x <= source.maxX; ++x) {
        MosaicTile tile = loader.Load(x, y);
        const std::string kind = tile.state == TileState::kPresent ? TileFormatOf(tile.bytes) : "";
        if (tile.state == TileState::kPresent && kind.empty()) tile.state = TileState::kUndecodable;
        tally.Count(x, y, tile.state);
        if (tile.state != TileState::kPresent) continue;
        if (format.empty()) format = kind;
        sqlite3_bind_int(insert.get(), 1, source.zoom);
        sqlite3_bind_int64(insert.get(), 2, x);
        sqlite3_bind_int64(insert.get(), 3, flip - y);
        sqlite3_bind_blob(insert.get(), 4, tile.bytes.data(), static_cast<int>(tile.bytes.size()), SQLITE_STATIC);
        db.Step(insert.get());
      }
    }
  }
  InsertMetadata(db, source, format);
  db.Exec("COMMIT;");
  db.Close();
}
