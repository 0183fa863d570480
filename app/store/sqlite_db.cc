#include "app/store/sqlite_db.h"

namespace vexo {

SqliteConnection OpenSqliteFile(const std::filesystem::path& file, std::string& error) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(file.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteConnection db(raw);
  if (rc != SQLITE_OK) {
    error = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    return nullptr;
  }
  sqlite3_extended_result_codes(raw, 1);
  return db;
}

std::string SqliteError(sqlite3* db) { return db ? sqlite3_errmsg(db) : "no database"; }

int SqliteExec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) == SQLITE_OK)
    m_stmt.reset(raw);
  else
    sqlite3_finalize(raw);
}

int SqliteStatement::Step() { return m_stmt ? sqlite3_step(m_stmt.get()) : SQLITE_MISUSE; }

void SqliteStatement::Reset() {
  sqlite3_reset(m_stmt.get());
  sqlite3_clear_bindings(m_stmt.get());
}

void SqliteStatement::BindInt(int index, std::int64_t value) {
  sqlite3_bind_int64(m_stmt.get(), index, value);
}

void SqliteStatement::BindText(int index, std::string_view text) {
  sqlite3_bind_text(m_stmt.get(), index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(m_stmt.get(), column) == SQLITE_NULL;
}

std::int64_t SqliteStatement::Int(int column) const {
  return sqlite3_column_int64(m_stmt.get(), column);
}

std::string SqliteStatement::Text(int column) const {
  const auto* text = sqlite3_column_text(m_stmt.get(), column);
  const int size = sqlite3_column_bytes(m_stmt.get(), column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
              : std::string();
}

std::optional<std::string> SqliteStatement::OptionalText(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Text(column);
}

SqliteTransaction::SqliteTransaction(sqlite3* db, Kind kind) : m_db(db) {
  m_open = SqliteExec(db, kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN") == SQLITE_OK;
}

SqliteTransaction::~SqliteTransaction() {
  if (m_open && Active()) SqliteExec(m_db, "ROLLBACK");
}

bool SqliteTransaction::Active() const { return m_open && sqlite3_get_autocommit(m_db) == 0; }

bool SqliteTransaction::Commit() {
  if (!Active()) return false;
  if (SqliteExec(m_db, "COMMIT") != SQLITE_OK) return false;
  m_open = false;
  return true;
}

}  // namespace vexo
