// A tile package's SQLite file, opened for writing; every SQLite error fails the run with a
// MosaicError naming the output.
#pragma once

#include <sqlite3.h>

#include <initializer_list>
#include <memory>
#include <string>

class SqliteFile {
 public:
  // Opens the (already created) file at path, its journal and syncing off: the file is renamed
  // into place only once complete and flushed.
  SqliteFile(const std::string& path, std::string output);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  void Exec(const std::string& sql);
  sqlite3_stmt* Prepare(const char* sql);
  // Runs the statement to its end and resets it for the next values.
  void Step(sqlite3_stmt* statement);
  // Runs the query and resets it: the blob in the first column of its first row, or nothing.
  std::string FirstBlob(sqlite3_stmt* statement);
  void Close();

 private:
  void Check(int result, int expected);

  sqlite3* db_ = nullptr;
  std::string output_;
};

// Binds the numbers to the statement's first parameters and the blob to the next one, and runs it.
void InsertRow(SqliteFile& file, sqlite3_stmt* statement, std::initializer_list<int64_t> numbers,
               const std::string& blob);
// Binds the numbers to the query's parameters and runs it: the blob it selects, or nothing.
std::string SelectBlob(SqliteFile& file, sqlite3_stmt* statement, std::initializer_list<int64_t> numbers);

using SqliteStatement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
inline SqliteStatement Prepared(SqliteFile& file, const char* sql) { return {file.Prepare(sql), sqlite3_finalize}; }
