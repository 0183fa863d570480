// The fax record store: four folders (sent, sending, inbox, deleted) of fax
// records in one SQLite file, faxes.db in the home directory, one table per
// folder with the record properties as typed columns. The fax jobs file their
// calls here, the fax list lists, reads, sorts, moves, copies and deletes, and
// the vexo command does the same from a shell. Failures go to the error pool
// under the module "DBFunc"; every operation runs under one lock and in one
// SQLite transaction, so the job thread, the interface thread and other
// processes on the same home never see half a record.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "app/store/fax_list_sink.h"
#include "app/store/fax_record.h"
#include "app/store/outbox_state.h"
#include "app/store/sqlite_db.h"

namespace vexo {

constexpr const char* kStoreFileName = "faxes.db";
// How long an operation retries a database that another connection has locked.
constexpr int kStoreBusyTimeoutMs = 3000;

struct StoreOptions {
  std::filesystem::path homeDir;    // faxes.db lives here
  std::filesystem::path dataDir;    // TIFDataDir: the fax files the records name
  bool settingsFileExisted = true;  // false on a first start (no Init.vxi was found)
  // Asked on a first start that finds folders of an earlier installation; true
  // empties them. Without it they are kept.
  std::function<bool()> replaceOldFolders{};
  int busyTimeoutMs = kStoreBusyTimeoutMs;
};

// Sort directions of OpenFolder and ListFolder.
constexpr int kSortAscending = 0;
constexpr int kSortDescending = 1;

class DBFunc {
 public:
  explicit DBFunc(StoreOptions options);
  DBFunc(const DBFunc&) = delete;
  DBFunc& operator=(const DBFunc&) = delete;

  // Opens faxes.db and makes sure the four folders exist. On a first start with
  // folders left from an earlier installation the user is asked twice before
  // they are emptied; a No keeps them. A damaged or foreign file is reported and
  // left untouched.
  int InitDatabases();

  // Makes the folder of databaseType (types outside the four mean folder 0) the
  // open one, sorted on property 101 to 104 (other values: filing order);
  // direction 1 is descending.
  int OpenFolder(std::uint32_t databaseType, unsigned sortProperty, int direction);
  // Opens the folder and hands all its records to the list, in the list's order.
  int ListFolder(FaxListSink& list, std::uint32_t databaseType, unsigned sortProperty,
                 int direction);
  // Reads all properties of a record of the open folder.
  int ReadRecord(CEOID oid, FaxRecord& record);
  // Reads one property (101 to 104) of a record of the open folder into its field.
  int ReadRecordProperty(CEOID oid, unsigned property, FaxRecord& record);

  // Files the record as a new one in the folder; sets record.oid.
  int AddRecord(int folder, FaxRecord& record);
  // For each id: add a copy to the target, delete it from the source. The file
  // stays. Returns 1 once both folders could be opened; single failures are in
  // the error pool. newIds, when given, receives the id of every record added.
  int MoveRecords(int source, int target, std::span<const CEOID> ids,
                  std::vector<CEOID>* newIds = nullptr);
  // For each id: add a copy to the target.
  int CopyRecords(int source, int target, std::span<const CEOID> ids,
                  std::vector<CEOID>* newIds = nullptr);
  // Deletes the records; a record's file goes too once no record of any folder
  // names it (and every folder could be checked).
  int DeleteRecords(int folder, std::span<const CEOID> ids);

  // ---- the outbox's queue in the Sending folder ----
  // Files the record in Sending with its outbox state; sets record.oid.
  int AddQueued(FaxRecord& record, const OutboxState& state);
  // Every record of Sending, in the order of their next try (records without
  // a state last), then of filing.
  int ListQueued(std::vector<QueuedFax>& faxes);
  // One record of Sending; 0 after a report when it is not there.
  int ReadQueued(CEOID oid, QueuedFax& fax);
  int UpdateQueued(CEOID oid, const OutboxState& state);
  // Files record as a new record of the target folder in place of the queued
  // record oid, in one transaction; sets record.oid. The file stays.
  int FileQueued(CEOID oid, int target, FaxRecord& record);

  // Adds the file name (property 108) of every record of the four folders to
  // names, in lower case as file names compare here; 0 after a report when a
  // folder could not be read.
  int NamedFiles(std::set<std::string>& names);
  // The folder that holds the record (ids are unique over all folders), or -1.
  int FindRecordFolder(CEOID oid);
  // The open folder's index, or -1 before the first OpenFolder.
  int OpenedFolder() const;
  const StoreOptions& Options() const { return m_options; }

 private:
  enum class Lookup { Found, Missing, Failed };
  enum class FileUse { Used, Unused, Unknown };

  bool EnsureConnection();
  bool AdoptDatabase(const std::string& fileName);
  bool TableExists(int folder, bool& exists);
  bool CreateFolder(int folder, bool replace);
  // Adds the outbox columns to the Sending table where they are missing (a
  // store made before the outbox); once per connection.
  bool EnsureQueueColumns();
  bool CheckQueueOpen(const char* function);
  bool CheckFolderOpen(int folder, const char* function);
  int OpenFolderLocked(std::uint32_t databaseType, unsigned sortProperty, int direction);
  int TransferRecords(int source, int target, std::span<const CEOID> ids, bool move,
                      std::vector<CEOID>* newIds);
  bool NextObjectId(CEOID& oid);
  // The text of the last failure: the store's own, else SQLite's.
  std::string TakeError();
  bool InsertRecord(int folder, const FaxRecord& record, CEOID oid);
  bool WriteQueueState(CEOID oid, const OutboxState& state);
  Lookup SelectRecord(int folder, CEOID oid, FaxRecord& record);
  bool DeleteRow(int folder, CEOID oid);
  FileUse FileUsage(const std::string& fileName);
  void RemoveFile(const std::string& fileName);
  void ReportDb(const char* function, const std::string& message);

  StoreOptions m_options;
  SqliteConnection m_db;
  std::string m_error;
  bool m_queueColumns = false;
  int m_openFolder = -1;
  unsigned m_sortProperty = 0;
  int m_direction = kSortAscending;
  mutable std::mutex m_lock;
};

// Creates the store and runs InitDatabases; null when that fails (the error pool
// then says why, for the caller to flush).
std::unique_ptr<DBFunc> CreateDBFunc(StoreOptions options);

}  // namespace vexo
