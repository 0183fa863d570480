// Thin RAII wrappers over the SQLite C interface for the record store: a
// connection, a prepared statement with typed binds and column reads, and a
// transaction that rolls back unless committed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vexo {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;

// Opens (creating when missing) the database file; on failure returns null and
// sets error to SQLite's text.
SqliteConnection OpenSqliteFile(const std::filesystem::path& file, std::string& error);

// The text of the connection's last error.
std::string SqliteError(sqlite3* db);

// Runs SQL without results; returns the SQLite result code.
int SqliteExec(sqlite3* db, const char* sql);

class SqliteStatement {
 public:
  // Prepares sql; ok() is false when it cannot be prepared (see SqliteError).
  SqliteStatement(sqlite3* db, std::string_view sql);

  bool ok() const { return m_stmt != nullptr; }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  void Reset();

  void BindInt(int index, std::int64_t value);
  void BindText(int index, std::string_view text);

  bool IsNull(int column) const;
  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  // Null columns read as nullopt.
  std::optional<std::string> OptionalText(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
};

// One transaction: a read transaction takes a consistent snapshot, a write
// transaction takes the write lock at once (BEGIN IMMEDIATE), so the busy
// handler retries a locked database instead of failing midway.
class SqliteTransaction {
 public:
  enum class Kind { Read, Write };
  SqliteTransaction(sqlite3* db, Kind kind);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  // False when BEGIN failed.
  bool ok() const { return m_open; }
  // False once SQLite has rolled the transaction back by itself (I/O error,
  // full disk): statements after that would run outside any transaction.
  bool Active() const;
  bool Commit();

 private:
  sqlite3* m_db;
  bool m_open = false;
};

}  // namespace vexo
