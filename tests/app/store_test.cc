// The record store: records, folders, files, ids, first start, damaged files,
// locks and a writer killed midway.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "app/jobs/user_messages.h"
#include "app/store/db_func.h"
#include "app/store/record_file.h"
#include "app/store/sqlite_db.h"
#include "base/strings.h"
#include "platform/posix/unique_fd.h"
#include "tests/app/store_test_util.h"

namespace vexo {
namespace {

using test::CollectingSink;
using test::MakeRecord;
using test::TakeErrors;

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorPool::Instance().Clear();
    options = test::OptionsFor(home);
    store = std::make_unique<DBFunc>(options);
    ASSERT_EQ(store->InitDatabases(), 1);
  }
  void TearDown() override { ErrorPool::Instance().Clear(); }

  CEOID Add(int folder, FaxRecord record) {
    EXPECT_EQ(store->AddRecord(folder, record), 1);
    return record.oid;
  }
  std::vector<CEOID> List(int folder, unsigned sort = 0, int direction = kSortAscending) {
    CollectingSink sink;
    EXPECT_EQ(store->ListFolder(sink, FolderType(folder), sort, direction), 1);
    return sink.Ids();
  }
  std::filesystem::path DataFile(const std::string& name) {
    test::WriteFileBytes(options.dataDir / name, "II*\0");
    return options.dataDir / name;
  }
  // Runs SQL on faxes.db through a connection of its own.
  void RawSql(const std::string& sql) {
    std::string error;
    auto db = OpenSqliteFile(home.path() / kStoreFileName, error);
    ASSERT_TRUE(db) << error;
    ASSERT_EQ(SqliteExec(db.get(), sql.c_str()), SQLITE_OK) << SqliteError(db.get());
  }
  bool HasError(const std::string& function, const std::string& text) {
    return std::ranges::any_of(TakeErrors(), [&](const ErrorRecord& e) {
      return e.module == "DBFunc" && e.function == function &&
             e.message.find(text) != std::string::npos;
    });
  }

  test::TempDir home;
  test::BoxRecorder presenter{IDNO};
  StoreOptions options;
  std::unique_ptr<DBFunc> store;
};

TEST(StoreNamesTest, ListDatesRecordFileNamesAndFolderNames) {
  const auto t = LocalTimeToFileTime({.year = 2026, .month = 5, .day = 1, .hour = 9, .minute = 5});
  ASSERT_TRUE(t);
  EXPECT_EQ(FormatListDate(*t), "2026-5-1 9:5");
  EXPECT_EQ(FileTimeToLocalTime(*t).dayOfWeek, 5);  // a Friday
  // The Windows epoch and a known value: 2000-01-01 00:00 is 125911584000000000.
  EXPECT_EQ(LocalTimeToFileTime({.year = 1601, .month = 1, .day = 1})->Ticks(), 0u);
  EXPECT_EQ(LocalTimeToFileTime({.year = 2000, .month = 1, .day = 1})->Ticks(),
            125911584000000000ULL);
  EXPECT_FALSE(LocalTimeToFileTime({.year = 2026, .month = 2, .day = 30}));
  EXPECT_FALSE(LocalTimeToFileTime({.year = 2026, .month = 13, .day = 1}));

  // Record file names: plain names inside the data directory only.
  EXPECT_TRUE(IsPlainRecordFileName("QXAAAAAB.tif"));
  EXPECT_TRUE(IsPlainRecordFileName("..hidden.tif"));
  for (const char* bad : {"", ".", "..", "../x", "/etc/passwd", "a/../../b", "a\\b", "sub/x.tif"})
    EXPECT_FALSE(IsPlainRecordFileName(bad)) << bad;
  EXPECT_FALSE(IsPlainRecordFileName(std::string_view("a\0b", 3)));
  EXPECT_EQ(RecordFilePath("/d/Data", "x.tif"), std::filesystem::path("/d/Data/x.tif"));
  EXPECT_FALSE(RecordFilePath("/d/Data", "../x"));
  // Folder names of the command line; an unknown folder type lists as Sent.
  EXPECT_EQ(FolderFromCliName("inbox"), FOLDER_INBOX);
  EXPECT_EQ(FolderFromCliName("trash"), -1);
  EXPECT_EQ(FolderFromType(0), FOLDER_SENT);
}

TEST_F(StoreTest, RecordReadsBackWholeAndMissingPropertiesAsAbsent) {
  FaxRecord in = MakeRecord("Alice", "QXAAAAAA.tif", 2);
  in.contact = "";  // an empty contact stays an empty string
  in.info1 = "one";
  in.info2 = "two";
  in.reserved = 0;
  in.pages = 7;
  in.resolution = 2;
  in.noteFlag = 1;
  in.note = "Bitte zurückrufen";
  in.telephone = std::nullopt;  // absent strings are stored as empty strings
  ASSERT_EQ(store->AddRecord(FOLDER_INBOX, in), 1);
  EXPECT_NE(in.oid, 0u);

  ASSERT_EQ(store->OpenFolder(FolderType(FOLDER_INBOX), 0, 0), 1);
  FaxRecord out;
  ASSERT_EQ(store->ReadRecord(in.oid, out), 1);
  FaxRecord want = in;
  want.telephone = "";
  EXPECT_EQ(test::Fields(out), test::Fields(want));

  FaxRecord one;
  ASSERT_EQ(store->ReadRecordProperty(in.oid, PROP_DATE, one), 1);
  EXPECT_EQ(one.date, in.date);
  ASSERT_EQ(store->ReadRecordProperty(in.oid, PROP_STATUS, one), 1);
  EXPECT_EQ(one.status, 2);
  EXPECT_EQ(store->ReadRecordProperty(in.oid, PROP_NOTE, one), 0);
  EXPECT_EQ(store->ReadRecordProperty(in.oid + 100, PROP_CONTACT, one), 0);
  EXPECT_TRUE(HasError("db.SeekToRecord", "Database=VXORecv"));

  // A record that lacks properties, as a damaged or older store may hold, reads
  // them as absent.
  const CEOID id = Add(FOLDER_SENT, MakeRecord("Bob", "b.tif"));
  RawSql("UPDATE VXOSent SET p111=NULL, p102=NULL, p104=NULL, p110=70000 WHERE oid=" +
         std::to_string(id));
  ASSERT_EQ(store->OpenFolder(FolderType(FOLDER_SENT), 0, 0), 1);
  out = FaxRecord{};
  ASSERT_EQ(store->ReadRecord(id, out), 1);
  EXPECT_EQ(out.resolution, kAbsentU16);
  EXPECT_EQ(out.pages, kAbsentU16);
  EXPECT_FALSE(out.contact);
  EXPECT_EQ(out.date.Ticks(), 0u);
}

TEST_F(StoreTest, IdsAndFoldersAreKeptAcrossRestartsAndIdsNeverReused) {
  const CEOID a = Add(FOLDER_SENT, MakeRecord("a", "a.tif"));
  const CEOID b = Add(FOLDER_INBOX, MakeRecord("b", "b.tif"));
  const CEOID c = Add(FOLDER_SENT, MakeRecord("c", "c.tif"));
  EXPECT_TRUE(a < b && b < c);
  ASSERT_EQ(store->DeleteRecords(FOLDER_SENT, std::vector<CEOID>{c}), 1);

  store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  EXPECT_EQ(List(FOLDER_SENT), std::vector<CEOID>{a});
  EXPECT_EQ(List(FOLDER_INBOX), std::vector<CEOID>{b});
  EXPECT_EQ(store->FindRecordFolder(b), FOLDER_INBOX);
  EXPECT_EQ(store->FindRecordFolder(c), -1);
  const CEOID d = Add(FOLDER_SENT, MakeRecord("d", "d.tif"));
  EXPECT_GT(d, c);

  // Missing folders are made again and existing ones kept.
  RawSql("DROP TABLE VXORecv; DROP TABLE VXODeleted");
  store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  EXPECT_EQ(List(FOLDER_SENT), (std::vector<CEOID>{a, d}));
  EXPECT_TRUE(List(FOLDER_INBOX).empty());
  EXPECT_TRUE(List(FOLDER_DELETED).empty());
  EXPECT_TRUE(presenter.boxes.empty());
}

// The outbox's columns: a store made before them (simulated by dropping them)
// keeps its records and gets them on opening; the state reads back from the
// file through a new connection, a store without the last outcome's column
// takes it from the result, and a sent fax leaves Sending for Sent.
TEST_F(StoreTest, QueuedFaxStateIsKeptInTheFileAndOldStoresGetItsColumns) {
  const CEOID moved = Add(FOLDER_SENDING, MakeRecord("moved", "m.tif"));
  store.reset();
  RawSql(
      "ALTER TABLE VXOSending DROP COLUMN q_next; ALTER TABLE VXOSending DROP COLUMN q_tries;"
      "ALTER TABLE VXOSending DROP COLUMN q_result; ALTER TABLE VXOSending DROP COLUMN q_resume;"
      "ALTER TABLE VXOSending DROP COLUMN q_cover; ALTER TABLE VXOSending DROP COLUMN q_failed;"
      "ALTER TABLE VXOSending DROP COLUMN q_outcome");
  store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  FaxRecord record = MakeRecord("queued", "q.tif");
  OutboxState state{1'900'000'000,       2, -1, 0x10002, true, OutboxStatus::kFailed,
                    OutboxOutcome::kBusy};
  ASSERT_EQ(store->AddQueued(record, OutboxState{}), 1);
  ASSERT_EQ(store->UpdateQueued(record.oid, state), 1);

  store = CreateDBFunc(options);
  std::vector<QueuedFax> queue;
  ASSERT_EQ(store->ListQueued(queue), 1);
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue[0].record.oid, record.oid);
  EXPECT_EQ(queue[0].state, state);
  EXPECT_EQ(queue[0].record.contact, "queued");
  EXPECT_EQ(queue[1].record.oid, moved) << "a record moved into Sending has no state";
  EXPECT_FALSE(queue[1].state);
  store.reset();
  RawSql("ALTER TABLE VXOSending DROP COLUMN q_outcome");
  store = CreateDBFunc(options);
  ASSERT_EQ(store->ListQueued(queue), 1);
  state.lastOutcome = OutboxOutcome::kCallFailed;
  EXPECT_EQ(queue[0].state, state);

  FaxRecord sent = MakeRecord("sent", "q.tif");
  ASSERT_EQ(store->FileQueued(record.oid, FOLDER_SENT, sent), 1);
  EXPECT_EQ(List(FOLDER_SENDING), std::vector<CEOID>{moved});
  EXPECT_EQ(List(FOLDER_SENT), std::vector<CEOID>{sent.oid});
  EXPECT_EQ(store->UpdateQueued(record.oid, state), 0);
  EXPECT_TRUE(HasError("db.WriteRecordProps", "no record with this object id"));
}

TEST_F(StoreTest, MoveAndCopySkipMissingRecordsAndAMoveGivesANewId) {
  const CEOID a = Add(FOLDER_INBOX, MakeRecord("a", "a.tif"));
  const CEOID b = Add(FOLDER_INBOX, MakeRecord("b", "b.tif"));
  std::vector<CEOID> copied;
  ASSERT_EQ(store->CopyRecords(FOLDER_INBOX, FOLDER_SENT, std::vector<CEOID>{a, 999, b}, &copied),
            1);
  EXPECT_EQ(copied.size(), 2u);
  EXPECT_TRUE(HasError("db.SeekToRecord", "Fail to seek to record by CEOID: Database=VXORecv"));
  EXPECT_EQ(List(FOLDER_INBOX).size(), 2u);
  EXPECT_EQ(List(FOLDER_SENT), copied);
  // A folder that does not exist fails the whole operation.
  EXPECT_EQ(store->MoveRecords(FOLDER_INBOX, 9, std::vector<CEOID>{a}), 0);
  EXPECT_TRUE(HasError("db.Open", "Fail to open Database [folder 9]"));
  EXPECT_EQ(List(FOLDER_INBOX).size(), 2u);
  FaxRecord r = MakeRecord("x", "x.tif");
  EXPECT_EQ(store->AddRecord(-1, r), 0);
  EXPECT_EQ(r.oid, 0u);

  // A move gives a new id and keeps the file.
  const auto file = DataFile("m.tif");
  const CEOID id = Add(FOLDER_SENT, MakeRecord("Carol", "m.tif"));
  std::vector<CEOID> moved;
  ASSERT_EQ(store->MoveRecords(FOLDER_SENT, FOLDER_DELETED, std::vector<CEOID>{id}, &moved), 1);
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_NE(moved[0], id);
  EXPECT_EQ(List(FOLDER_SENT), copied);
  EXPECT_EQ(List(FOLDER_DELETED), moved);
  FaxRecord out;
  ASSERT_EQ(store->ReadRecord(moved[0], out), 1);
  EXPECT_EQ(out.contact, "Carol");
  EXPECT_EQ(out.fileName, "m.tif");
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST_F(StoreTest, FileGoesWithTheLastRecordThatNamesIt) {
  const auto file = DataFile("shared.tif");
  const CEOID first = Add(FOLDER_DELETED, MakeRecord("Dan", "shared.tif"));
  std::vector<CEOID> copy;
  ASSERT_EQ(store->CopyRecords(FOLDER_DELETED, FOLDER_DELETED, std::vector<CEOID>{first}, &copy),
            1);
  ASSERT_EQ(store->DeleteRecords(FOLDER_DELETED, std::vector<CEOID>{first}), 1);
  EXPECT_TRUE(std::filesystem::exists(file));
  ASSERT_EQ(store->DeleteRecords(FOLDER_DELETED, copy), 1);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);

  // A record in another folder keeps the file too, whatever the letter case.
  const auto other = DataFile("Other.tif");
  Add(FOLDER_INBOX, MakeRecord("Eve", "OTHER.TIF"));
  const CEOID doomed = Add(FOLDER_DELETED, MakeRecord("Eve", "Other.tif"));
  ASSERT_EQ(store->DeleteRecords(FOLDER_DELETED, std::vector<CEOID>{doomed}), 1);
  EXPECT_TRUE(std::filesystem::exists(other));

  // A folder that cannot be checked keeps the file.
  const auto kept = DataFile("kept.tif");
  const CEOID id = Add(FOLDER_DELETED, MakeRecord("a", "kept.tif"));
  RawSql("DROP TABLE VXOSending");
  ASSERT_EQ(store->DeleteRecords(FOLDER_DELETED, std::vector<CEOID>{id}), 1);
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_TRUE(HasError("db.Open", "Fail to open Database [VXOSending], ErrMsg = "));
}

TEST_F(StoreTest, DeleteStopsAtAMissingRecordAndReportsAMissingFile) {
  const CEOID a = Add(FOLDER_DELETED, MakeRecord("a", "gone.tif"));
  const CEOID b = Add(FOLDER_DELETED, MakeRecord("b", ""));
  EXPECT_EQ(store->DeleteRecords(FOLDER_DELETED, std::vector<CEOID>{a, 12345, b}), 0);
  EXPECT_EQ(List(FOLDER_DELETED), std::vector<CEOID>{b});
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(*errors[0].function, "db.SeekToRecord");
  EXPECT_EQ(*errors[1].function, "DeleteFile");
  EXPECT_EQ(errors[1].message.rfind("Delete File [filename = gone.tif], ErrMsg = No such file", 0),
            0u);
}

TEST_F(StoreTest, RecordsNamingFilesOutsideTheDataDirectoryNeverDeleteThem) {
  const auto victim = home.path() / "victim";
  test::WriteFileBytes(victim, "keep");
  test::WriteFileBytes(options.dataDir / "b", "keep");
  std::vector<CEOID> ids;
  for (const std::string& name :
       {std::string("../victim"), victim.string(), std::string("a/../../victim"),
        std::string("sub/../b"), std::string("..")})
    ids.push_back(Add(FOLDER_DELETED, MakeRecord("x", name)));
  ASSERT_EQ(store->DeleteRecords(FOLDER_DELETED, ids), 1);
  EXPECT_TRUE(List(FOLDER_DELETED).empty());
  EXPECT_EQ(test::ReadFileBytes(victim), "keep");
  EXPECT_EQ(test::ReadFileBytes(options.dataDir / "b"), "keep");
  EXPECT_TRUE(std::filesystem::exists(options.dataDir));
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 5u);
  for (const auto& e : errors) {
    EXPECT_EQ(*e.function, "DeleteFile");
    EXPECT_NE(e.message.find("not a plain file name"), std::string::npos) << e.message;
  }
}

TEST_F(StoreTest, ListsEveryColumnBothWays) {
  CollectingSink empty;  // an empty folder lists as empty, stale items cleared once
  empty.items.push_back({});
  ASSERT_EQ(store->ListFolder(empty, FolderType(FOLDER_INBOX), PROP_CONTACT, 0), 1);
  EXPECT_TRUE(empty.items.empty());
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(empty.clears, 1);
  const struct {
    const char *contact, *telephone;
    std::uint64_t date;
    std::uint16_t status;
  } rows[] = {{"bravo", "300", 20, 2},
              {"Alpha", "1", 30, 0},
              {"charlie", "20", 10, 1},
              {"ALPHA", "0", 40, 2}};
  std::vector<CEOID> ids;
  for (const auto& row : rows) {
    FaxRecord r = MakeRecord(row.contact, "f.tif", row.status);
    r.telephone = row.telephone;
    r.date = FileTime::FromTicks(row.date);
    ids.push_back(Add(FOLDER_INBOX, r));
  }
  auto order = [&](std::initializer_list<int> indices) {
    std::vector<CEOID> out;
    for (int i : indices) out.push_back(ids[i]);
    return out;
  };
  // Equal values (Alpha and ALPHA compare equal) keep the filing order.
  EXPECT_EQ(List(FOLDER_INBOX, PROP_CONTACT, 0), order({1, 3, 0, 2}));
  EXPECT_EQ(List(FOLDER_INBOX, PROP_CONTACT, 1), order({2, 0, 3, 1}));
  EXPECT_EQ(List(FOLDER_INBOX, PROP_TELEPHONE, 0), order({3, 1, 2, 0}));  // as text
  EXPECT_EQ(List(FOLDER_INBOX, PROP_TELEPHONE, 1), order({0, 2, 1, 3}));
  EXPECT_EQ(List(FOLDER_INBOX, PROP_DATE, 0), order({2, 0, 1, 3}));
  EXPECT_EQ(List(FOLDER_INBOX, PROP_DATE, 1), order({3, 1, 0, 2}));
  EXPECT_EQ(List(FOLDER_INBOX, PROP_STATUS, 0), order({1, 2, 0, 3}));
  EXPECT_EQ(List(FOLDER_INBOX, PROP_STATUS, 1), order({3, 0, 2, 1}));
  EXPECT_EQ(List(FOLDER_INBOX, 0, 0), order({0, 1, 2, 3}));
  EXPECT_EQ(List(FOLDER_INBOX, 0, 1), order({3, 2, 1, 0}));

  CollectingSink sink;
  ASSERT_EQ(store->ListFolder(sink, FolderType(FOLDER_INBOX), PROP_DATE, 1), 1);
  EXPECT_EQ(sink.count, 4u);
  EXPECT_EQ(sink.items[0].contact, "ALPHA");
  EXPECT_EQ(sink.items[0].telephone, "0");
  EXPECT_EQ(sink.items[0].status, 2);
  EXPECT_EQ(sink.items[0].dateText, "1601-1-1 0:0");
  EXPECT_EQ(store->OpenedFolder(), FOLDER_INBOX);
}

TEST_F(StoreTest, FirstStartAsksTwiceBeforeEmptyingOldFolders) {
  const CEOID id = Add(FOLDER_INBOX, MakeRecord("old", "o.tif"));
  StoreOptions first = options;
  first.settingsFileExisted = false;
  first.replaceOldFolders = AskReplaceOldFolders;
  for (const std::deque<int>& answers : {std::deque<int>{IDNO}, std::deque<int>{IDYES, IDNO}}) {
    presenter.answers = answers;
    presenter.boxes.clear();
    presenter.styles.clear();
    store = CreateDBFunc(first);
    ASSERT_TRUE(store);
    EXPECT_EQ(presenter.boxes.size(), answers.size());
    EXPECT_EQ(List(FOLDER_INBOX), std::vector<CEOID>{id});
  }
  EXPECT_EQ(presenter.styles[0], unsigned{MB_YESNO | MB_ICONQUESTION});
  EXPECT_EQ(presenter.styles[1], unsigned{MB_YESNO | MB_ICONEXCLAMATION});
  EXPECT_EQ(presenter.boxes[0], LoadResString(65079));
  EXPECT_EQ(presenter.boxes[1], LoadResString(65080));

  presenter.answers = {IDYES, IDYES};
  store = CreateDBFunc(first);
  ASSERT_TRUE(store);
  EXPECT_TRUE(List(FOLDER_INBOX).empty());
  // Ids still go on from where they were.
  EXPECT_GT(Add(FOLDER_INBOX, MakeRecord("new", "n.tif")), id);

  // A first start without old folders asks nothing.
  test::TempDir fresh;
  presenter.boxes.clear();
  StoreOptions freshOptions = test::OptionsFor(fresh);
  freshOptions.settingsFileExisted = false;
  freshOptions.replaceOldFolders = AskReplaceOldFolders;
  EXPECT_TRUE(CreateDBFunc(freshOptions));
  EXPECT_TRUE(presenter.boxes.empty());
}

TEST_F(StoreTest, DamagedOrForeignFilesAreReportedAndLeftAlone) {
  store.reset();
  const auto file = home.path() / kStoreFileName;
  test::WriteFileBytes(file, std::string(4096, 'Z'));
  EXPECT_FALSE(CreateDBFunc(options));
  EXPECT_EQ(test::ReadFileBytes(file), std::string(4096, 'Z'));
  const auto errors = TakeErrors();
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(*errors[0].function, "db.Open");
  EXPECT_EQ(errors[0].message,
            "Fail to open Database [" + file.string() + "], ErrMsg = file is not a database");

  std::filesystem::remove(file);
  RawSql("CREATE TABLE photos (id INTEGER PRIMARY KEY, name TEXT)");
  const std::string before = test::ReadFileBytes(file);
  EXPECT_FALSE(CreateDBFunc(options));
  EXPECT_EQ(test::ReadFileBytes(file), before);
  EXPECT_TRUE(HasError("db.Open", "ErrMsg = the file is not a Vexo Fax record store"));
}

TEST_F(StoreTest, ALockedDatabaseIsRetriedThenReported) {
  options.busyTimeoutMs = 50;
  store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  std::string error;
  auto other = OpenSqliteFile(home.path() / kStoreFileName, error);
  ASSERT_EQ(SqliteExec(other.get(), "BEGIN EXCLUSIVE"), SQLITE_OK);
  FaxRecord r = MakeRecord("late", "l.tif");
  EXPECT_EQ(store->AddRecord(FOLDER_SENT, r), 0);
  EXPECT_TRUE(HasError("db.AddRecord",
                       "Fail to add record to Database [VXOSent], ErrMsg = database is locked"));
  // A lock that is let go while the store retries costs nothing.
  options.busyTimeoutMs = 10'000;
  store = CreateDBFunc(options);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SqliteExec(other.get(), "COMMIT");
  });
  EXPECT_EQ(store->AddRecord(FOLDER_SENT, r), 1);
  release.join();
  EXPECT_EQ(List(FOLDER_SENT), std::vector<CEOID>{r.oid});
}

// The record of step k of a writer; every field can be checked from k alone.
FaxRecord StepRecord(int k) {
  FaxRecord r = test::MakeRecord(std::to_string(k), "f" + std::to_string(k) + ".tif");
  r.pages = static_cast<std::uint16_t>(k % 1000);
  r.note = std::string(200, static_cast<char>('a' + k % 26));
  return r;
}

TEST_F(StoreTest, AKilledWriterLeavesWholeRecordsOnly) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  store.reset();  // no connection is carried across the fork
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Files records into the inbox and moves every third on to the deleted
    // folder, for ever; tells the test once it is well into its run.
    auto writer = CreateDBFunc(options);
    for (int k = 0; writer; ++k) {
      FaxRecord r = StepRecord(k);
      if (!writer->AddRecord(FOLDER_INBOX, r) ||
          (k % 3 == 0 &&
           !writer->MoveRecords(FOLDER_INBOX, FOLDER_DELETED, std::vector<CEOID>{r.oid})) ||
          (k == 600 && write(writeEnd.get(), "k", 1) != 1))
        break;
    }
    _exit(3);
  }
  writeEnd.Reset();
  char go = 0;
  ASSERT_EQ(read(readEnd.get(), &go, 1), 1) << "the writer ended by itself";
  kill(child, SIGKILL);  // wherever it is
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  std::string error;
  auto db = OpenSqliteFile(home.path() / kStoreFileName, error);
  SqliteStatement check(db.get(), "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_EQ(check.Text(0), "ok");

  // Every step up to the last committed one is there exactly once, whole, and
  // in the folder its step puts it (a move is never half done; only the last
  // step may be killed between its add and its move).
  std::map<int, int> folderOfStep;
  for (const int folder : {FOLDER_INBOX, FOLDER_DELETED}) {
    for (const CEOID id : List(folder)) {
      FaxRecord r;
      ASSERT_EQ(store->ReadRecord(id, r), 1);
      const int k = std::stoi(r.contact.value_or("-1"));
      FaxRecord want = StepRecord(k);
      want.oid = id;
      EXPECT_EQ(test::Fields(r), test::Fields(want));
      EXPECT_TRUE(folderOfStep.emplace(k, folder).second) << "step " << k << " twice";
    }
  }
  ASSERT_GT(folderOfStep.size(), 600u);
  const int last = folderOfStep.rbegin()->first;
  EXPECT_EQ(folderOfStep.begin()->first, 0);
  EXPECT_EQ(last, static_cast<int>(folderOfStep.size()) - 1);
  for (const auto& [k, folder] : folderOfStep)
    EXPECT_TRUE((k == last && k % 3 == 0) || folder == (k % 3 == 0 ? FOLDER_DELETED : FOLDER_INBOX))
        << "step " << k << " in folder " << folder;
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

}  // namespace
}  // namespace vexo
