// Listing and sorting the fax record store: ListFolder over 10,000 and 100,000
// records on each sort column, against a plain SQLite SELECT ... ORDER BY of the
// same rows through the C interface, measured in the same run. Prints records
// per second and the store's time as a ratio of the peer's.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "app/store/db_func.h"
#include "app/store/sqlite_db.h"

namespace vexo {
namespace {

constexpr int kSmall = 10'000;
constexpr int kLarge = 100'000;

// A home directory holding one inbox of n generated records, kept for the run.
struct Home {
  std::filesystem::path dir;
  std::unique_ptr<DBFunc> store;
  ~Home() {
    store.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void Fill(const std::filesystem::path& file, int n) {
  std::string error;
  auto db = OpenSqliteFile(file, error);
  SqliteExec(db.get(), "BEGIN");
  SqliteStatement insert(db.get(),
                         "INSERT INTO VXORecv VALUES (?1,?2,?3,?4,?5,?6,'','',?7,0,?8,?9,0,'')");
  std::mt19937 random(42);
  const char* const names[] = {"acme", "Bravo", "CHARLIE", "delta", "Echo", "foxtrot"};
  for (int i = 1; i <= n; ++i) {
    const std::string contact =
        std::string(names[random() % 6]) + " " + std::to_string(random() % 100'000);
    insert.BindInt(1, i);
    insert.BindInt(2, random() % 3);
    insert.BindText(3, contact);
    insert.BindText(4, "+49 30 " + std::to_string(random() % 10'000'000));
    insert.BindInt(5, 133'000'000'000'000'000LL + static_cast<long long>(random()) * 10'000'000);
    insert.BindText(6, contact.substr(0, 20));
    insert.BindText(7, "QX" + std::to_string(i) + ".tif");
    insert.BindInt(8, 1 + random() % 20);
    insert.BindInt(9, 1 + random() % 2);
    insert.Step();
    insert.Reset();
  }
  SqliteExec(db.get(), ("UPDATE vexo_store SET value=" + std::to_string(n + 1) +
                        " WHERE key='next_oid'; COMMIT")
                           .c_str());
}

Home& HomeWith(int n) {
  static std::map<int, std::unique_ptr<Home>> homes;
  auto& home = homes[n];
  if (!home) {
    home = std::make_unique<Home>();
    char pattern[] = "/tmp/vexo-store-bench-XXXXXX";
    home->dir = mkdtemp(pattern);
    StoreOptions options;
    options.homeDir = home->dir;
    options.dataDir = home->dir / "Data";
    home->store = CreateDBFunc(options);
    Fill(home->dir / kStoreFileName, n);
  }
  return *home;
}

class CountingSink : public FaxListSink {
 public:
  void DeleteAllItems() override { items = 0; }
  void SetRecordCount(std::size_t) override {}
  void AddItem(const FaxListItem& item) override {
    ++items;
    benchmark::DoNotOptimize(item.dateText.data());
  }
  std::size_t items = 0;
};

struct SortColumn {
  unsigned property;
  const char* orderBy;  // what the peer sorts by
};
constexpr SortColumn kColumns[] = {
    {PROP_CONTACT, "p102 COLLATE NOCASE"},
    {PROP_TELEPHONE, "p103 COLLATE NOCASE"},
    {PROP_DATE, "p104"},
    {PROP_STATUS, "p101"},
};

void SetRate(benchmark::State& state, int n) {
  state.counters["records/s"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate);
}

// ListFolder of the inbox. Args: column index, record count, direction.
void BM_StoreList(benchmark::State& state) {
  const SortColumn& column = kColumns[state.range(0)];
  const int n = static_cast<int>(state.range(1));
  DBFunc& store = *HomeWith(n).store;
  CountingSink sink;
  for (auto _ : state) {
    if (!store.ListFolder(sink, FolderType(FOLDER_INBOX), column.property,
                          static_cast<int>(state.range(2))) ||
        sink.items != static_cast<std::size_t>(n))
      state.SkipWithError("listing failed");
  }
  SetRate(state, n);
}

// The peer: the same rows in the same order through a prepared statement,
// copying the four listed columns out of each row.
void BM_SqlitePeer(benchmark::State& state) {
  const SortColumn& column = kColumns[state.range(0)];
  const int n = static_cast<int>(state.range(1));
  std::string error;
  auto db = OpenSqliteFile(HomeWith(n).dir / kStoreFileName, error);
  SqliteExec(db.get(), "PRAGMA cache_size=-32768");  // the page cache the store uses
  const char* dir = state.range(2) == kSortDescending ? " DESC" : " ASC";
  const std::string sql = std::string("SELECT oid,p101,p102,p103,p104 FROM VXORecv ORDER BY ") +
                          column.orderBy + dir + ",oid" + dir;
  SqliteStatement select(db.get(), sql);
  for (auto _ : state) {
    std::size_t rows = 0;
    while (select.Step() == SQLITE_ROW) {
      std::string contact = select.Text(2), telephone = select.Text(3);
      benchmark::DoNotOptimize(select.Int(0) + select.Int(1) + select.Int(4));
      benchmark::DoNotOptimize(contact.data());
      benchmark::DoNotOptimize(telephone.data());
      ++rows;
    }
    select.Reset();
    if (rows != static_cast<std::size_t>(n)) state.SkipWithError("peer read failed");
  }
  SetRate(state, n);
}

void Arguments(benchmark::internal::Benchmark* b) {
  for (const int n : {kSmall, kLarge})
    for (int column = 0; column < 4; ++column)
      for (const int direction : {kSortAscending, kSortDescending}) b->Args({column, n, direction});
  b->ArgNames({"column", "records", "desc"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_StoreList)->Apply(Arguments);
BENCHMARK(BM_SqlitePeer)->Apply(Arguments);

// Prints the usual table, then each store listing as a ratio of its peer.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the report is kept in bench/RESULTS.md.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred) m_times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    std::printf(
        "\nstore listing CPU time / plain SQLite SELECT CPU time (same rows, same order):\n");
    for (const auto& [name, time] : m_times) {
      if (name.rfind("BM_StoreList/", 0) != 0) continue;
      const auto peer = m_times.find("BM_SqlitePeer/" + name.substr(13));
      if (peer == m_times.end() || peer->second <= 0) continue;
      std::printf("  %-48s %7.2f ms  ratio %.2f\n", name.substr(13).c_str(), time,
                  time / peer->second);
    }
  }

 private:
  std::map<std::string, double> m_times;
};

}  // namespace
}  // namespace vexo

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vexo::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
