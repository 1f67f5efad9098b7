#include "mosaic/sqlite_file.h"

#include "mosaic/mosaic_source.h"
#include "mosaic/partial_file.h"
#include "platform/errors.h"

SqliteFile::SqliteFile(const std::string& path, std::string output) : output_(std::move(output)) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "";
    sqlite3_close(db_);
    throw MosaicError(WithReason(qm::CannotCreateFileText(output_), reason));
  }
  Exec("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
}

SqliteFile::~SqliteFile() { sqlite3_close(db_); }

void SqliteFile::Exec(const std::string& sql) {
  Check(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
}

sqlite3_stmt* SqliteFile::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  Check(sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr), SQLITE_OK);
  return statement;
}

void SqliteFile::Step(sqlite3_stmt* statement) {
  Check(sqlite3_step(statement), SQLITE_DONE);
  sqlite3_reset(statement);
}

std::string SqliteFile::FirstBlob(sqlite3_stmt* statement) {
  const int result = sqlite3_step(statement);
  std::string blob;
  if (result == SQLITE_ROW) {
    blob.assign(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
  }
  sqlite3_reset(statement);
  if (result != SQLITE_ROW) Check(result, SQLITE_DONE);
  return blob;
}

void SqliteFile::Close() {
  const int result = sqlite3_close(db_);
  db_ = nullptr;
  Check(result, SQLITE_OK);
}

void SqliteFile::Check(int result, int expected) {
  if (result != expected) throw MosaicError(UnableToWriteBecause(output_, sqlite3_errstr(result)));
}

void InsertRow(SqliteFile& file, sqlite3_stmt* statement, std::initializer_list<int64_t> numbers,
               const std::string& blob) {
  int parameter = 1;
  for (const int64_t number : numbers) sqlite3_bind_int64(statement, parameter++, number);
  sqlite3_bind_blob(statement, parameter, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
  file.Step(statement);
}

std::string SelectBlob(SqliteFile& file, sqlite3_stmt* statement, std::initializer_list<int64_t> numbers) {
  int parameter = 1;
  for (const int64_t number : numbers) sqlite3_bind_int64(statement, parameter++, number);
  return file.FirstBlob(statement);
}
