// The record store under a writer that is killed midway and under two threads
// (and two connections) working at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "app/store/db_func.h"
#include "app/store/sqlite_db.h"
#include "tests/app/store_test_util.h"

namespace vexo {
namespace {

using test::CollectingSink;
using test::MakeRecord;

constexpr int kThreadOperations = 1500;

// The record of step k of a writer; every field can be checked from k alone.
FaxRecord StepRecord(int k) {
  FaxRecord r = MakeRecord("contact-" + std::to_string(k), "f" + std::to_string(k) + ".tif");
  r.pages = static_cast<std::uint16_t>(k % 1000);
  r.note = std::string(200, static_cast<char>('a' + k % 26));
  return r;
}

bool IsWholeStepRecord(const FaxRecord& r, int& k) {
  if (!r.contact || r.contact->rfind("contact-", 0) != 0) return false;
  k = std::stoi(r.contact->substr(8));
  const FaxRecord want = StepRecord(k);
  return r.telephone == want.telephone && r.fileName == want.fileName && r.pages == want.pages &&
         r.note == want.note && r.remoteStationId == want.remoteStationId && r.date == want.date &&
         r.status == want.status && r.resolution == want.resolution;
}

// Writes records into the inbox and moves every third one on to the deleted
// folder, for ever; run in a child process that the test kills.
[[noreturn]] void RunWriter(const StoreOptions& options) {
  auto store = CreateDBFunc(options);
  if (!store) _exit(3);
  for (int k = 0;; ++k) {
    FaxRecord r = StepRecord(k);
    if (!store->AddRecord(FOLDER_INBOX, r)) _exit(4);
    if (k % 3 == 0 && !store->MoveRecords(FOLDER_INBOX, FOLDER_DELETED, std::vector<CEOID>{r.oid}))
      _exit(5);
  }
}

std::int64_t CountRecords(const std::filesystem::path& file) {
  std::string error;
  auto db = OpenSqliteFile(file, error);
  if (!db) return -1;
  sqlite3_busy_timeout(db.get(), 1000);
  SqliteStatement s(db.get(),
                    "SELECT (SELECT count(*) FROM VXORecv)+(SELECT count(*) FROM VXODeleted)");
  return s.ok() && s.Step() == SQLITE_ROW ? s.Int(0) : -1;
}

TEST(StoreCrashTest, AKilledWriterLeavesWholeRecordsOnly) {
  test::TempDir home;
  const StoreOptions options = test::OptionsFor(home);
  ASSERT_TRUE(CreateDBFunc(options));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) RunWriter(options);

  // Let the writer get well into its run, then kill it wherever it is.
  int status = 0;
  bool exited = false;
  for (int i = 0; i < 3000 && CountRecords(home.path() / kStoreFileName) < 600; ++i) {
    if (waitpid(child, &status, WNOHANG) == child) {
      exited = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(exited) << "writer ended by itself with status " << status;
  kill(child, SIGKILL);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  ErrorPool::Instance().Clear();
  auto store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  std::string error;
  auto db = OpenSqliteFile(home.path() / kStoreFileName, error);
  SqliteStatement check(db.get(), "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_EQ(check.Text(0), "ok");

  // Every step up to the last committed one is there exactly once, whole, and
  // in the folder its step puts it (a move is never half done).
  std::set<int> steps;
  std::vector<int> unmoved;  // only the last step may be killed between its add and its move
  for (const int folder : {FOLDER_INBOX, FOLDER_DELETED}) {
    CollectingSink sink;
    ASSERT_EQ(store->ListFolder(sink, FolderType(folder), 0, 0), 1);
    for (const auto& item : sink.items) {
      FaxRecord r;
      ASSERT_EQ(store->ReadRecord(item.oid, r), 1);
      int k = -1;
      ASSERT_TRUE(IsWholeStepRecord(r, k)) << "record " << item.oid;
      EXPECT_TRUE(steps.insert(k).second) << "step " << k << " twice";
      if (folder == FOLDER_INBOX && k % 3 == 0) unmoved.push_back(k);
      if (folder == FOLDER_DELETED) {
        EXPECT_EQ(k % 3, 0) << "step " << k << " moved wrongly";
      }
    }
  }
  ASSERT_GE(steps.size(), 600u);
  EXPECT_EQ(*steps.begin(), 0);
  EXPECT_EQ(*steps.rbegin(), static_cast<int>(steps.size()) - 1);
  EXPECT_TRUE(unmoved.empty() || (unmoved.size() == 1 && unmoved[0] == *steps.rbegin()));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

class StoreThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { ErrorPool::Instance().Clear(); }
  void TearDown() override { ErrorPool::Instance().Clear(); }
  test::TempDir home;
  StoreOptions options = test::OptionsFor(home);
};

TEST_F(StoreThreadsTest, FilingAndListingAtOnceLosesNothing) {
  auto store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  // The job thread files received faxes while the interface lists the inbox
  // and moves the newest record to the deleted folder.
  std::thread job([&] {
    for (int k = 0; k < kThreadOperations; ++k) {
      FaxRecord r = StepRecord(k);
      if (!store->AddRecord(FOLDER_INBOX, r)) ++failures;
    }
    done = true;
  });
  int moved = 0;
  while (!done) {
    CollectingSink sink;
    if (!store->ListFolder(sink, FolderType(FOLDER_INBOX), PROP_DATE, 1)) ++failures;
    if (sink.items.size() != sink.count) ++failures;
    if (!sink.items.empty() &&
        store->MoveRecords(FOLDER_INBOX, FOLDER_DELETED, std::vector<CEOID>{sink.items[0].oid}))
      ++moved;
  }
  job.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  CollectingSink inbox, deleted;
  store->ListFolder(inbox, FolderType(FOLDER_INBOX), 0, 0);
  store->ListFolder(deleted, FolderType(FOLDER_DELETED), 0, 0);
  EXPECT_EQ(deleted.items.size(), static_cast<std::size_t>(moved));
  EXPECT_EQ(inbox.items.size() + deleted.items.size(), static_cast<std::size_t>(kThreadOperations));
}

TEST_F(StoreThreadsTest, TwoConnectionsOnOneHomeGiveDistinctIds) {
  auto first = CreateDBFunc(options);
  auto second = CreateDBFunc(options);
  ASSERT_TRUE(first && second);
  std::vector<CEOID> idsA, idsB;
  auto work = [&](DBFunc& store, int folder, std::vector<CEOID>& ids) {
    for (int k = 0; k < kThreadOperations / 2; ++k) {
      FaxRecord r = StepRecord(k);
      if (store.AddRecord(folder, r)) ids.push_back(r.oid);
      if (k % 50 == 0) {
        CollectingSink sink;
        store.ListFolder(sink, FolderType(FOLDER_SENT), PROP_CONTACT, 0);
      }
    }
  };
  std::thread a([&] { work(*first, FOLDER_SENT, idsA); });
  std::thread b([&] { work(*second, FOLDER_INBOX, idsB); });
  a.join();
  b.join();
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  std::set<CEOID> all(idsA.begin(), idsA.end());
  all.insert(idsB.begin(), idsB.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreadOperations / 2 * 2));
}

}  // namespace
}  // namespace vexo
