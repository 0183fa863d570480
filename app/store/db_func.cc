#include "app/store/db_func.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "app/store/record_file.h"
#include "base/error_pool.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "DBFunc";

// The first-start questions: empty the folders left by an earlier installation?

// Marks faxes.db as this program's file in the SQLite header ("VEXO").
constexpr std::int64_t kStoreApplicationId = 0x5645584F;
constexpr std::int64_t kFirstObjectId = 1;
// Page cache of each connection: 32 MiB, about 200,000 records.
constexpr const char* kCacheSizePragma = "PRAGMA cache_size=-32768";
constexpr std::int64_t kLastObjectId = 0xFFFFFFFF;

constexpr const char* kOpenFailed = "Fail to open Database [%s], ErrMsg = ";
constexpr const char* kCreateFailed = "Fail to create Database [%s], ErrMsg = ";
constexpr const char* kAddFailed = "Fail to add record to Database [%s], ErrMsg = ";
constexpr const char* kSeekFailed = "Fail to seek to record by CEOID: Database=%s, ErrMsg = ";
constexpr const char* kReadFailed = "Fail to read current record: Database=%s, ErrMsg = ";
constexpr const char* kDeleteFailed =
    "Fail to delete record from Database [%s], RecCEOID=%d, ErrMsg = ";
constexpr const char* kDeleteFileFailed = "Delete File [filename = %s], ErrMsg = ";
constexpr const char* kWriteFailed = "Fail to write record: Database=%s, ErrMsg = ";

constexpr const char* kNoSuchRecord = "no record with this object id";
constexpr const char* kNoSuchFolder = "the folder does not exist";
constexpr const char* kForeignFile = "the file is not a Vexo Fax record store";
constexpr const char* kDamagedFile = "the record store's id counter is missing or damaged";
constexpr const char* kIdsExhausted = "no object ids left";
constexpr const char* kNotPlainName = "the name is not a plain file name inside the data directory";
constexpr const char* kNoDataDir = "no data directory is set";

std::string FolderName(int folder) {
  return IsFolder(folder) ? kFolders[folder].databaseName : Format(32, "folder %d", folder);
}

std::string Quoted(int folder) { return std::string("\"") + kFolders[folder].databaseName + "\""; }

std::string Message(const char* format, const std::string& name) {
  return Format(kMaxMessageChars, format, name.c_str());
}

std::string DeleteFailedText(const std::string& name, CEOID oid) {
  return Format(kMaxMessageChars, kDeleteFailed, name.c_str(), static_cast<int>(oid));
}

std::string SelectColumns() {
  std::string columns = "oid";
  for (const PropertyInfo& p : kFaxProperties) columns += ",p" + std::to_string(p.id);
  return columns;
}

std::uint16_t ReadU16(const SqliteStatement& s, int column) {
  if (s.IsNull(column)) return kAbsentU16;
  const std::int64_t value = s.Int(column);
  return value < 0 || value > 0xFFFF ? kAbsentU16 : static_cast<std::uint16_t>(value);
}

FileTime ReadDate(const SqliteStatement& s, int column) {
  if (s.IsNull(column)) return {};
  const std::int64_t value = s.Int(column);
  return value < 0 ? FileTime{} : FileTime::FromTicks(static_cast<std::uint64_t>(value));
}

// Reads oid and the thirteen properties, as SelectColumns() lists them.
FaxRecord ReadColumns(const SqliteStatement& s) {
  FaxRecord r;
  r.oid = static_cast<CEOID>(s.Int(0));
  r.status = ReadU16(s, 1);
  r.contact = s.OptionalText(2);
  r.telephone = s.OptionalText(3);
  r.date = ReadDate(s, 4);
  r.remoteStationId = s.OptionalText(5);
  r.info1 = s.OptionalText(6);
  r.info2 = s.OptionalText(7);
  r.fileName = s.OptionalText(8);
  r.reserved = ReadU16(s, 9);
  r.pages = ReadU16(s, 10);
  r.resolution = ReadU16(s, 11);
  r.noteFlag = ReadU16(s, 12);
  r.note = s.OptionalText(13);
  return r;
}

// Binds oid and the thirteen properties; strings are never stored absent.
void BindColumns(SqliteStatement& s, const FaxRecord& r, CEOID oid) {
  s.BindInt(1, oid);
  s.BindInt(2, r.status);
  s.BindText(3, r.contact.value_or(""));
  s.BindText(4, r.telephone.value_or(""));
  s.BindInt(5, static_cast<std::int64_t>(r.date.Ticks()));
  s.BindText(6, r.remoteStationId.value_or(""));
  s.BindText(7, r.info1.value_or(""));
  s.BindText(8, r.info2.value_or(""));
  s.BindText(9, r.fileName.value_or(""));
  s.BindInt(10, r.reserved);
  s.BindInt(11, r.pages);
  s.BindInt(12, r.resolution);
  s.BindInt(13, r.noteFlag);
  s.BindText(14, r.note.value_or(""));
}

// The outbox's columns of the Sending table, in OutboxState order. They are
// added to a store made before the outbox, so they may be null.
constexpr std::array<const char*, 7> kQueueColumns{"q_next",  "q_tries",  "q_result", "q_resume",
                                                   "q_cover", "q_failed", "q_outcome"};
constexpr int kQueueFirstColumn = 1 + static_cast<int>(kFaxProperties.size());

std::string QueueSelect() {
  std::string sql = "SELECT " + SelectColumns();
  for (const char* column : kQueueColumns) sql += std::string(",") + column;
  return sql + " FROM " + Quoted(FOLDER_SENDING);
}

// A record of the Sending table, as QueueSelect() lists its columns.
QueuedFax ReadQueuedColumns(const SqliteStatement& s) {
  QueuedFax fax{ReadColumns(s), std::nullopt};
  const int c = kQueueFirstColumn;
  if (s.IsNull(c)) return fax;
  OutboxState& state = fax.state.emplace();
  state.nextTry = s.Int(c);
  state.tries = static_cast<std::uint16_t>(std::clamp<std::int64_t>(s.Int(c + 1), 0, 0xFFFF));
  state.lastResult = static_cast<int>(s.Int(c + 2));
  state.resume = static_cast<std::uint32_t>(s.Int(c + 3));
  state.coverPage = s.Int(c + 4) != 0;
  // q_failed holds the status: 0 waiting and 1 failed as stores before it,
  // 2 held for a number; anything else is taken as failed.
  const std::int64_t status = s.Int(c + 5);
  state.status = status == static_cast<int>(OutboxStatus::kNeedsNumber) ? OutboxStatus::kNeedsNumber
                 : status != 0                                          ? OutboxStatus::kFailed
                                                                        : OutboxStatus::kWaiting;
  // q_outcome came later than the others: without it the result tells.
  const std::int64_t outcome = s.IsNull(c + 6) ? -1 : s.Int(c + 6);
  state.lastOutcome = outcome >= 0 && outcome <= kOutboxOutcomeLast
                          ? static_cast<OutboxOutcome>(outcome)
                          : OutcomeOfResult(state.lastResult);
  return fax;
}

// The ORDER BY of a listing: the sort property, then the id, so records with
// equal values keep their filing order and every listing is the same.
std::string OrderBy(unsigned sortProperty, int direction) {
  const char* dir = direction == kSortDescending ? " DESC" : " ASC";
  switch (sortProperty) {
    case PROP_STATUS:
      return std::string("p101") + dir + ",oid" + dir;
    case PROP_CONTACT:
      return std::string("p102 COLLATE NOCASE") + dir + ",oid" + dir;
    case PROP_TELEPHONE:
      return std::string("p103 COLLATE NOCASE") + dir + ",oid" + dir;
    case PROP_DATE:
      return std::string("p104") + dir + ",oid" + dir;
    default:
      return std::string("oid") + dir;
  }
}

// The folder table and its indexes: the four declared sort orders (contact,
// file name, date, telephone; SQLite walks an index both ways, so one index
// serves both directions), the status order the list can sort on, and the file
// name index that also serves the search for a file's other records.
std::string FolderSchema(int folder) {
  const std::string t = kFolders[folder].databaseName;
  const std::string q = Quoted(folder);
  std::string sql = "CREATE TABLE IF NOT EXISTS " + q +
                    " (oid INTEGER PRIMARY KEY, p101 INTEGER, p102 TEXT, p103 TEXT, p104 INTEGER,"
                    " p105 TEXT, p106 TEXT, p107 TEXT, p108 TEXT, p109 INTEGER, p110 INTEGER,"
                    " p111 INTEGER, p112 INTEGER, p113 TEXT) STRICT;";
  constexpr std::array<std::pair<const char*, const char*>, 5> kIndexes{{
      {"p102", "p102 COLLATE NOCASE, oid"},
      {"p108", "p108 COLLATE NOCASE"},
      {"p104", "p104, oid"},
      {"p103", "p103 COLLATE NOCASE, oid"},
      {"p101", "p101, oid"},
  }};
  for (const auto& [suffix, columns] : kIndexes)
    sql +=
        "CREATE INDEX IF NOT EXISTS \"" + t + "_" + suffix + "\" ON " + q + " (" + columns + ");";
  return sql;
}

}  // namespace

DBFunc::DBFunc(StoreOptions options) : m_options(std::move(options)) {}

void DBFunc::ReportDb(const char* function, const std::string& message) {
  ReportText(0, kMsgDefault, kModule, function, message);
}

int DBFunc::OpenedFolder() const {
  std::lock_guard lock(m_lock);
  return m_openFolder;
}

// ---- connection and folders ------------------------------------------------

bool DBFunc::EnsureConnection() {
  if (m_db) return true;
  const std::filesystem::path file = m_options.homeDir / kStoreFileName;
  std::string error;
  SqliteConnection db = OpenSqliteFile(file, error);
  if (!db) {
    ReportDb("db.Open", Message(kOpenFailed, file.string()) + error);
    return false;
  }
  sqlite3_busy_timeout(db.get(), m_options.busyTimeoutMs);
  m_db = std::move(db);
  if (!AdoptDatabase(file.string())) {
    m_db.reset();
    return false;
  }
  // WAL lets readers (the fax list, the vexo command) go on while a job files a
  // record; NORMAL syncing keeps the file whole after any crash.
  SqliteExec(m_db.get(), "PRAGMA journal_mode=WAL");
  SqliteExec(m_db.get(), "PRAGMA synchronous=NORMAL");
  // A sorted listing visits the rows in index order, all over the file; a page
  // cache that holds a large store keeps that from turning into file reads.
  SqliteExec(m_db.get(), kCacheSizePragma);
  return true;
}

// Accepts faxes.db when it is this program's store, makes a new or empty file
// one, and refuses (without writing to it) a damaged file or another program's.
bool DBFunc::AdoptDatabase(const std::string& fileName) {
  enum class Kind { Ours, Fresh, Foreign, Damaged };
  sqlite3* db = m_db.get();
  std::string error;
  const auto refuse = [&](Kind kind, std::string reason) {
    error = std::move(reason);
    return kind;
  };
  const auto classify = [&]() {
    SqliteStatement appId(db, "PRAGMA application_id");
    if (!appId.ok() || appId.Step() != SQLITE_ROW) return refuse(Kind::Damaged, SqliteError(db));
    const std::int64_t id = appId.Int(0);
    if (id == kStoreApplicationId) {
      SqliteStatement counter(db, "SELECT value FROM vexo_store WHERE key='next_oid'");
      if (counter.ok() && counter.Step() == SQLITE_ROW) return Kind::Ours;
      return refuse(Kind::Damaged, kDamagedFile);
    }
    if (id != 0) return refuse(Kind::Foreign, kForeignFile);
    SqliteStatement objects(db, "SELECT count(*) FROM sqlite_master");
    if (!objects.ok() || objects.Step() != SQLITE_ROW)
      return refuse(Kind::Damaged, SqliteError(db));
    if (objects.Int(0) != 0) return refuse(Kind::Foreign, kForeignFile);
    return Kind::Fresh;
  };
  Kind kind = classify();
  if (kind == Kind::Fresh) {
    // Another process may be making the same file at this moment: decide again
    // under the write lock.
    SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
    if (!txn.ok()) {
      ReportDb("db.Open", Message(kOpenFailed, fileName) + SqliteError(db));
      return false;
    }
    kind = classify();
    if (kind == Kind::Fresh) {
      const std::string sql =
          "PRAGMA application_id=" + std::to_string(kStoreApplicationId) +
          ";CREATE TABLE vexo_store (key TEXT PRIMARY KEY, value INTEGER NOT NULL) STRICT;"
          "INSERT INTO vexo_store VALUES ('next_oid', " +
          std::to_string(kFirstObjectId) + ");";
      if (SqliteExec(db, sql.c_str()) != SQLITE_OK || !txn.Commit()) {
        ReportDb("db.Open", Message(kOpenFailed, fileName) + SqliteError(db));
        return false;
      }
      kind = Kind::Ours;
    }
  }
  if (kind == Kind::Ours) return true;
  ReportDb("db.Open", Message(kOpenFailed, fileName) + error);
  return false;
}

bool DBFunc::TableExists(int folder, bool& exists) {
  SqliteStatement s(m_db.get(), "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
  if (!s.ok()) return false;
  s.BindText(1, kFolders[folder].databaseName);
  const int rc = s.Step();
  exists = rc == SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool DBFunc::CreateFolder(int folder, bool replace) {
  sqlite3* db = m_db.get();
  SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
  std::string sql = replace ? "DROP TABLE IF EXISTS " + Quoted(folder) + ";" : std::string();
  sql += FolderSchema(folder);
  if (!txn.ok() || SqliteExec(db, sql.c_str()) != SQLITE_OK || !txn.Commit()) {
    ReportDb("db.Create", Message(kCreateFailed, kFolders[folder].databaseName) + SqliteError(db));
    return false;
  }
  return true;
}

bool DBFunc::CheckFolderOpen(int folder, const char* function) {
  if (!IsFolder(folder)) {
    ReportDb(function, Message(kOpenFailed, FolderName(folder)) + kNoSuchFolder);
    return false;
  }
  if (!EnsureConnection()) return false;
  bool exists = false;
  if (!TableExists(folder, exists)) {
    ReportDb(function, Message(kOpenFailed, FolderName(folder)) + SqliteError(m_db.get()));
    return false;
  }
  if (!exists) {
    ReportDb(function, Message(kOpenFailed, FolderName(folder)) + kNoSuchFolder);
    return false;
  }
  return true;
}

int DBFunc::InitDatabases() {
  std::array<bool, kFolderCount> exists{};
  {
    std::lock_guard lock(m_lock);
    if (!EnsureConnection()) return 0;
    for (int f = 0; f < kFolderCount; ++f) {
      if (!TableExists(f, exists[f])) {
        ReportDb("db.Open", Message(kOpenFailed, FolderName(f)) + SqliteError(m_db.get()));
        return 0;
      }
    }
  }
  // A first start that finds folders of an earlier installation asks the
  // caller's question before emptying them. It is asked without the lock held,
  // as the question may wait for the interface thread.
  bool replace = false;
  if (!m_options.settingsFileExisted && m_options.replaceOldFolders &&
      std::ranges::any_of(exists, [](bool e) { return e; }))
    replace = m_options.replaceOldFolders();

  // Whatever was answered, a folder that is missing is created, so that no later
  // operation meets a missing folder; an existing one is emptied only on two Yes.
  std::lock_guard lock(m_lock);
  for (int f = 0; f < kFolderCount; ++f)
    if (replace || !exists[f])
      if (!CreateFolder(f, replace)) return 0;
  // A store of an earlier version gets the outbox's columns now; when it
  // cannot (a read-only file), everything but the outbox still works.
  m_queueColumns = false;
  if (!EnsureQueueColumns())
    ReportDb("db.Open",
             Message(kOpenFailed, kFolders[FOLDER_SENDING].databaseName) + SqliteError(m_db.get()));
  return 1;
}

bool DBFunc::EnsureQueueColumns() {
  if (m_queueColumns) return true;
  sqlite3* db = m_db.get();
  // Under the write lock, so that two processes never add a column twice.
  SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
  SqliteStatement info(db, "PRAGMA table_info(" + Quoted(FOLDER_SENDING) + ")");
  if (!txn.ok() || !info.ok()) return false;
  std::set<std::string> present;
  int rc;
  while ((rc = info.Step()) == SQLITE_ROW) present.insert(info.Text(1));
  if (rc != SQLITE_DONE) return false;
  for (const char* column : kQueueColumns) {
    if (present.contains(column)) continue;
    const std::string sql =
        "ALTER TABLE " + Quoted(FOLDER_SENDING) + " ADD COLUMN " + column + " INTEGER";
    if (SqliteExec(db, sql.c_str()) != SQLITE_OK) return false;
  }
  m_queueColumns = txn.Commit();
  return m_queueColumns;
}

bool DBFunc::CheckQueueOpen(const char* function) {
  if (!CheckFolderOpen(FOLDER_SENDING, function)) return false;
  if (EnsureQueueColumns()) return true;
  ReportDb(function,
           Message(kOpenFailed, kFolders[FOLDER_SENDING].databaseName) + SqliteError(m_db.get()));
  return false;
}

// ---- listing and reading ---------------------------------------------------

int DBFunc::OpenFolder(std::uint32_t databaseType, unsigned sortProperty, int direction) {
  std::lock_guard lock(m_lock);
  return OpenFolderLocked(databaseType, sortProperty, direction);
}

int DBFunc::OpenFolderLocked(std::uint32_t databaseType, unsigned sortProperty, int direction) {
  m_openFolder = -1;
  const int folder = FolderFromType(databaseType);
  if (!CheckFolderOpen(folder, "db.Open")) return 0;
  m_openFolder = folder;
  m_sortProperty = sortProperty >= PROP_STATUS && sortProperty <= PROP_DATE ? sortProperty : 0;
  m_direction = direction == kSortDescending ? kSortDescending : kSortAscending;
  return 1;
}

int DBFunc::ListFolder(FaxListSink& list, std::uint32_t databaseType, unsigned sortProperty,
                       int direction) {
  std::lock_guard lock(m_lock);
  if (!OpenFolderLocked(databaseType, sortProperty, direction)) {
    list.DeleteAllItems();
    return 0;
  }
  sqlite3* db = m_db.get();
  const std::string name = kFolders[m_openFolder].databaseName;
  const std::string table = Quoted(m_openFolder);
  // The count and the rows come from one snapshot, so they always agree.
  SqliteTransaction txn(db, SqliteTransaction::Kind::Read);
  SqliteStatement count(db, "SELECT count(*) FROM " + table);
  SqliteStatement rows(db, "SELECT oid,p101,p102,p103,p104 FROM " + table + " ORDER BY " +
                               OrderBy(m_sortProperty, m_direction));
  list.DeleteAllItems();
  if (!txn.ok() || !count.ok() || !rows.ok() || count.Step() != SQLITE_ROW) {
    ReportDb("db.Open", Message(kOpenFailed, name) + SqliteError(db));
    return 0;
  }
  list.SetRecordCount(static_cast<std::size_t>(count.Int(0)));
  FaxListItem item;
  int rc;
  while ((rc = rows.Step()) == SQLITE_ROW) {
    item.oid = static_cast<CEOID>(rows.Int(0));
    item.status = ReadU16(rows, 1);
    item.contact = rows.Text(2);
    item.telephone = rows.Text(3);
    item.date = ReadDate(rows, 4);
    item.dateText = FormatListDate(item.date);
    list.AddItem(item);
  }
  if (rc != SQLITE_DONE) {
    ReportDb("db.ReadCurrRecord", Message(kReadFailed, name) + SqliteError(db));
    return 0;
  }
  txn.Commit();
  return 1;
}

DBFunc::Lookup DBFunc::SelectRecord(int folder, CEOID oid, FaxRecord& record) {
  SqliteStatement s(m_db.get(),
                    "SELECT " + SelectColumns() + " FROM " + Quoted(folder) + " WHERE oid=?1");
  if (!s.ok()) return Lookup::Failed;
  s.BindInt(1, oid);
  const int rc = s.Step();
  if (rc == SQLITE_DONE) return Lookup::Missing;
  if (rc != SQLITE_ROW) return Lookup::Failed;
  record = ReadColumns(s);
  return Lookup::Found;
}

int DBFunc::ReadRecord(CEOID oid, FaxRecord& record) {
  std::lock_guard lock(m_lock);
  if (m_openFolder < 0) {
    ReportDb("db.SeekToRecord", Message(kSeekFailed, "none") + "no folder is open");
    return 0;
  }
  const std::string name = kFolders[m_openFolder].databaseName;
  switch (SelectRecord(m_openFolder, oid, record)) {
    case Lookup::Found:
      return 1;
    case Lookup::Missing:
      ReportDb("db.SeekToRecord", Message(kSeekFailed, name) + kNoSuchRecord);
      return 0;
    case Lookup::Failed:
      break;
  }
  ReportDb("db.ReadCurrRecord", Message(kReadFailed, name) + SqliteError(m_db.get()));
  return 0;
}

int DBFunc::ReadRecordProperty(CEOID oid, unsigned property, FaxRecord& record) {
  std::lock_guard lock(m_lock);
  if (m_openFolder < 0) {
    ReportDb("db.SeekToRecord", Message(kSeekFailed, "none") + "no folder is open");
    return 0;
  }
  const std::string name = kFolders[m_openFolder].databaseName;
  if (property < PROP_STATUS || property > PROP_DATE) {
    ReportDb("db.ReadCurrRecord",
             Message(kReadFailed, name) + Format(64, "property %u cannot be read alone", property));
    return 0;
  }
  SqliteStatement s(m_db.get(), "SELECT p" + std::to_string(property) + " FROM " +
                                    Quoted(m_openFolder) + " WHERE oid=?1");
  int rc = SQLITE_ERROR;
  if (s.ok()) {
    s.BindInt(1, oid);
    rc = s.Step();
  }
  if (rc == SQLITE_DONE) {
    ReportDb("db.SeekToRecord", Message(kSeekFailed, name) + kNoSuchRecord);
    return 0;
  }
  if (rc != SQLITE_ROW) {
    ReportDb("db.ReadCurrRecord", Message(kReadFailed, name) + SqliteError(m_db.get()));
    return 0;
  }
  switch (property) {
    case PROP_STATUS:
      record.status = ReadU16(s, 0);
      break;
    case PROP_CONTACT:
      record.contact = s.OptionalText(0);
      break;
    case PROP_TELEPHONE:
      record.telephone = s.OptionalText(0);
      break;
    default:
      record.date = ReadDate(s, 0);
      break;
  }
  return 1;
}

int DBFunc::NamedFiles(std::set<std::string>& names) {
  std::lock_guard lock(m_lock);
  if (!EnsureConnection()) return 0;
  // One snapshot of all four folders, so a record moved meanwhile is seen once.
  SqliteTransaction txn(m_db.get(), SqliteTransaction::Kind::Read);
  for (int f = 0; f < kFolderCount; ++f) {
    SqliteStatement s(m_db.get(), "SELECT DISTINCT lower(p108) FROM " + Quoted(f));
    int rc = SQLITE_ERROR;
    if (txn.ok() && s.ok())
      while ((rc = s.Step()) == SQLITE_ROW) names.insert(s.Text(0));
    if (rc != SQLITE_DONE) {
      ReportDb("db.ReadCurrRecord", Message(kReadFailed, FolderName(f)) + SqliteError(m_db.get()));
      return 0;
    }
  }
  return 1;
}

int DBFunc::FindRecordFolder(CEOID oid) {
  std::lock_guard lock(m_lock);
  if (!EnsureConnection()) return -1;
  for (int f = 0; f < kFolderCount; ++f) {
    bool exists = false;
    if (!TableExists(f, exists) || !exists) continue;
    SqliteStatement s(m_db.get(), "SELECT 1 FROM " + Quoted(f) + " WHERE oid=?1");
    if (!s.ok()) continue;
    s.BindInt(1, oid);
    if (s.Step() == SQLITE_ROW) return f;
  }
  return -1;
}

// ---- writing ---------------------------------------------------------------

bool DBFunc::NextObjectId(CEOID& oid) {
  sqlite3* db = m_db.get();
  SqliteStatement get(db, "SELECT value FROM vexo_store WHERE key='next_oid'");
  if (!get.ok() || get.Step() != SQLITE_ROW) return false;
  const std::int64_t next = get.Int(0);
  if (next < kFirstObjectId || next > kLastObjectId) {
    m_error = kIdsExhausted;
    return false;
  }
  SqliteStatement put(db, "UPDATE vexo_store SET value=?1 WHERE key='next_oid'");
  put.BindInt(1, next + 1);
  if (!put.ok() || put.Step() != SQLITE_DONE) return false;
  oid = static_cast<CEOID>(next);
  return true;
}

std::string DBFunc::TakeError() {
  std::string error = m_error.empty() ? SqliteError(m_db.get()) : m_error;
  m_error.clear();
  return error;
}

bool DBFunc::InsertRecord(int folder, const FaxRecord& record, CEOID oid) {
  SqliteStatement s(m_db.get(), "INSERT INTO " + Quoted(folder) + " (" + SelectColumns() +
                                    ") VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14)");
  if (!s.ok()) return false;
  BindColumns(s, record, oid);
  return s.Step() == SQLITE_DONE;
}

bool DBFunc::DeleteRow(int folder, CEOID oid) {
  SqliteStatement s(m_db.get(), "DELETE FROM " + Quoted(folder) + " WHERE oid=?1");
  if (!s.ok()) return false;
  s.BindInt(1, oid);
  if (s.Step() != SQLITE_DONE) return false;
  if (sqlite3_changes(m_db.get()) == 1) return true;
  m_error = kNoSuchRecord;
  return false;
}

int DBFunc::AddRecord(int folder, FaxRecord& record) {
  std::lock_guard lock(m_lock);
  if (!CheckFolderOpen(folder, "db.Open")) return 0;
  sqlite3* db = m_db.get();
  SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
  CEOID oid = 0;
  if (!txn.ok() || !NextObjectId(oid) || !InsertRecord(folder, record, oid) || !txn.Commit()) {
    ReportDb("db.AddRecord", Message(kAddFailed, FolderName(folder)) + TakeError());
    return 0;
  }
  record.oid = oid;
  return 1;
}

int DBFunc::MoveRecords(int source, int target, std::span<const CEOID> ids,
                        std::vector<CEOID>* newIds) {
  return TransferRecords(source, target, ids, true, newIds);
}

int DBFunc::CopyRecords(int source, int target, std::span<const CEOID> ids,
                        std::vector<CEOID>* newIds) {
  return TransferRecords(source, target, ids, false, newIds);
}

int DBFunc::TransferRecords(int source, int target, std::span<const CEOID> ids, bool move,
                            std::vector<CEOID>* newIds) {
  std::lock_guard lock(m_lock);
  if (newIds) newIds->clear();
  if (!CheckFolderOpen(source, "db.Open") || !CheckFolderOpen(target, "db.Open")) return 0;
  sqlite3* db = m_db.get();
  const std::string sourceName = kFolders[source].databaseName;
  const std::string targetName = kFolders[target].databaseName;
  SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
  if (!txn.ok()) {
    ReportDb("db.Open", Message(kOpenFailed, targetName) + SqliteError(db));
    return 0;
  }
  std::vector<CEOID> added;
  for (const CEOID id : ids) {
    FaxRecord record;
    const Lookup found = SelectRecord(source, id, record);
    if (found == Lookup::Missing) {
      ReportDb("db.SeekToRecord", Message(kSeekFailed, sourceName) + kNoSuchRecord);
      continue;
    }
    if (found == Lookup::Failed) {
      ReportDb("db.ReadCurrRecord", Message(kReadFailed, sourceName) + SqliteError(db));
    } else if (CEOID newId = 0; !NextObjectId(newId) || !InsertRecord(target, record, newId)) {
      ReportDb("db.AddRecord", Message(kAddFailed, targetName) + TakeError());
    } else {
      added.push_back(newId);
      if (move && !DeleteRow(source, id)) {
        ReportDb("db.DeleteCurrRecord", DeleteFailedText(sourceName, id) + TakeError());
      }
    }
    if (!txn.Active()) break;  // SQLite gave the transaction up: nothing was kept
  }
  if (!txn.Commit()) {
    ReportDb("db.AddRecord", Message(kAddFailed, targetName) + SqliteError(db));
    return 0;
  }
  if (newIds) *newIds = std::move(added);
  return 1;
}

int DBFunc::DeleteRecords(int folder, std::span<const CEOID> ids) {
  std::lock_guard lock(m_lock);
  if (!CheckFolderOpen(folder, "db.Open")) return 0;
  sqlite3* db = m_db.get();
  const std::string name = kFolders[folder].databaseName;
  SqliteTransaction txn(db, SqliteTransaction::Kind::Write);
  if (!txn.ok()) {
    ReportDb("db.Open", Message(kOpenFailed, name) + SqliteError(db));
    return 0;
  }
  int result = 1;
  std::vector<std::string> fileNames;
  for (const CEOID id : ids) {
    FaxRecord record;
    const Lookup found = SelectRecord(folder, id, record);
    if (found != Lookup::Found) {
      if (found == Lookup::Missing)
        ReportDb("db.SeekToRecord", Message(kSeekFailed, name) + kNoSuchRecord);
      else
        ReportDb("db.ReadCurrRecord", Message(kReadFailed, name) + SqliteError(db));
      result = 0;
      break;
    }
    if (!DeleteRow(folder, id)) {
      ReportDb("db.DeleteCurrRecord", DeleteFailedText(name, id) + TakeError());
      if (!txn.Active()) break;
      continue;
    }
    const std::string file = record.fileName.value_or("");
    if (!file.empty() && std::ranges::find(fileNames, file) == fileNames.end())
      fileNames.push_back(file);
  }
  // Which files no record names any more is decided inside the transaction, so
  // no other writer can file a record naming one of them meanwhile; the files go
  // only after the commit, so a failed commit never leaves records without files.
  std::vector<std::string> unused;
  for (const std::string& file : fileNames)
    if (FileUsage(file) == FileUse::Unused) unused.push_back(file);
  if (!txn.Commit()) {
    ReportDb("db.DeleteCurrRecord",
             DeleteFailedText(name, ids.empty() ? 0 : ids.front()) + SqliteError(db));
    return 0;
  }
  for (const std::string& file : unused) RemoveFile(file);
  return result;
}

// Looks for a record naming the file in every folder. A folder that cannot be
// checked makes the answer Unknown, and the file is kept.
DBFunc::FileUse DBFunc::FileUsage(const std::string& fileName) {
  bool unknown = false;
  for (int f = 0; f < kFolderCount; ++f) {
    bool exists = false;
    const bool checked = TableExists(f, exists);
    if (!checked || !exists) {
      ReportDb("db.Open", Message(kOpenFailed, FolderName(f)) +
                              (checked ? std::string(kNoSuchFolder) : SqliteError(m_db.get())));
      unknown = true;
      continue;
    }
    SqliteStatement s(m_db.get(),
                      "SELECT 1 FROM " + Quoted(f) + " WHERE p108=?1 COLLATE NOCASE LIMIT 1");
    int rc = SQLITE_ERROR;
    if (s.ok()) {
      s.BindText(1, fileName);
      rc = s.Step();
    }
    if (rc == SQLITE_ROW) return FileUse::Used;
    if (rc != SQLITE_DONE) {
      ReportDb("db.Open", Message(kOpenFailed, FolderName(f)) + SqliteError(m_db.get()));
      unknown = true;
    }
  }
  return unknown ? FileUse::Unknown : FileUse::Unused;
}

void DBFunc::RemoveFile(const std::string& fileName) {
  if (m_options.dataDir.empty()) {
    ReportDb("DeleteFile", Message(kDeleteFileFailed, fileName) + kNoDataDir);
    return;
  }
  const auto path = RecordFilePath(m_options.dataDir, fileName);
  if (!path) {
    ReportDb("DeleteFile", Message(kDeleteFileFailed, fileName) + kNotPlainName);
    return;
  }
  if (::unlink(path->c_str()) != 0)
    ReportDb("DeleteFile",
             Message(kDeleteFileFailed, fileName) + SystemErrorText(errno).value_or(""));
}

// ---- the outbox's queue ----------------------------------------------------

bool DBFunc::WriteQueueState(CEOID oid, const OutboxState& state) {
  std::string sql = "UPDATE " + Quoted(FOLDER_SENDING) + " SET ";
  for (std::size_t i = 0; i < kQueueColumns.size(); ++i)
    sql += std::string(i ? "," : "") + kQueueColumns[i] + "=?" + std::to_string(i + 1);
  SqliteStatement s(m_db.get(), sql + " WHERE oid=?8");
  if (!s.ok()) return false;
  s.BindInt(1, state.nextTry);
  s.BindInt(2, state.tries);
  s.BindInt(3, state.lastResult);
  s.BindInt(4, state.resume);
  s.BindInt(5, state.coverPage ? 1 : 0);
  s.BindInt(6, static_cast<int>(state.status));
  s.BindInt(7, static_cast<int>(state.lastOutcome));
  s.BindInt(8, oid);
  if (s.Step() != SQLITE_DONE) return false;
  if (sqlite3_changes(m_db.get()) == 1) return true;
  m_error = kNoSuchRecord;
  return false;
}

int DBFunc::AddQueued(FaxRecord& record, const OutboxState& state) {
  std::lock_guard lock(m_lock);
  if (!CheckQueueOpen("db.Open")) return 0;
  SqliteTransaction txn(m_db.get(), SqliteTransaction::Kind::Write);
  CEOID oid = 0;
  if (!txn.ok() || !NextObjectId(oid) || !InsertRecord(FOLDER_SENDING, record, oid) ||
      !WriteQueueState(oid, state) || !txn.Commit()) {
    ReportDb("db.AddRecord", Message(kAddFailed, FolderName(FOLDER_SENDING)) + TakeError());
    return 0;
  }
  record.oid = oid;
  return 1;
}

int DBFunc::ListQueued(std::vector<QueuedFax>& faxes) {
  std::lock_guard lock(m_lock);
  faxes.clear();
  if (!CheckQueueOpen("db.Open")) return 0;
  SqliteStatement s(m_db.get(), QueueSelect() + " ORDER BY q_next IS NULL, q_next, oid");
  int rc = SQLITE_ERROR;
  if (s.ok())
    while ((rc = s.Step()) == SQLITE_ROW) faxes.push_back(ReadQueuedColumns(s));
  if (rc == SQLITE_DONE) return 1;
  faxes.clear();
  ReportDb("db.ReadCurrRecord",
           Message(kReadFailed, FolderName(FOLDER_SENDING)) + SqliteError(m_db.get()));
  return 0;
}

int DBFunc::ReadQueued(CEOID oid, QueuedFax& fax) {
  std::lock_guard lock(m_lock);
  if (!CheckQueueOpen("db.Open")) return 0;
  const std::string name = FolderName(FOLDER_SENDING);
  SqliteStatement s(m_db.get(), QueueSelect() + " WHERE oid=?1");
  int rc = SQLITE_ERROR;
  if (s.ok()) {
    s.BindInt(1, oid);
    rc = s.Step();
  }
  if (rc == SQLITE_ROW) {
    fax = ReadQueuedColumns(s);
    return 1;
  }
  if (rc == SQLITE_DONE)
    ReportDb("db.SeekToRecord", Message(kSeekFailed, name) + kNoSuchRecord);
  else
    ReportDb("db.ReadCurrRecord", Message(kReadFailed, name) + SqliteError(m_db.get()));
  return 0;
}

int DBFunc::UpdateQueued(CEOID oid, const OutboxState& state) {
  std::lock_guard lock(m_lock);
  if (!CheckQueueOpen("db.Open")) return 0;
  if (WriteQueueState(oid, state)) return 1;
  ReportDb("db.WriteRecordProps", Message(kWriteFailed, FolderName(FOLDER_SENDING)) + TakeError());
  return 0;
}

int DBFunc::FileQueued(CEOID oid, int target, FaxRecord& record) {
  std::lock_guard lock(m_lock);
  if (!CheckQueueOpen("db.Open") || !CheckFolderOpen(target, "db.Open")) return 0;
  SqliteTransaction txn(m_db.get(), SqliteTransaction::Kind::Write);
  CEOID newId = 0;
  if (!txn.ok() || !DeleteRow(FOLDER_SENDING, oid) || !NextObjectId(newId) ||
      !InsertRecord(target, record, newId) || !txn.Commit()) {
    ReportDb("db.AddRecord", Message(kAddFailed, FolderName(target)) + TakeError());
    return 0;
  }
  record.oid = newId;
  return 1;
}

std::unique_ptr<DBFunc> CreateDBFunc(StoreOptions options) {
  auto store = std::make_unique<DBFunc>(std::move(options));
  if (!store->InitDatabases()) return nullptr;
  return store;
}

}  // namespace vexo
