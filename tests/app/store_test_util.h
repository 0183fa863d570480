// Shared pieces of the record store tests: a store in a temporary home, a list
// sink that keeps what it was given, and quick record makers.
#pragma once

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "base/presenter.h"
#include "tests/support/box_recorder.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {

class CollectingSink : public FaxListSink {
 public:
  void DeleteAllItems() override {
    items.clear();
    ++clears;
  }
  void SetRecordCount(std::size_t n) override { count = n; }
  void AddItem(const FaxListItem& item) override { items.push_back(item); }

  std::vector<CEOID> Ids() const {
    std::vector<CEOID> ids;
    for (const auto& item : items) ids.push_back(item.oid);
    return ids;
  }

  std::vector<FaxListItem> items;
  std::size_t count = 0;
  int clears = 0;
};

inline StoreOptions OptionsFor(const TempDir& home) {
  StoreOptions options;
  options.homeDir = home.path();
  options.dataDir = home.path() / "Data";
  std::filesystem::create_directories(options.dataDir);
  return options;
}

// Every field of a record, for comparing whole records.
inline auto Fields(const FaxRecord& r) {
  return std::tie(r.oid, r.contact, r.remoteStationId, r.date, r.telephone, r.info1, r.info2,
                  r.fileName, r.status, r.reserved, r.pages, r.resolution, r.noteFlag, r.note);
}

inline FaxRecord MakeRecord(const std::string& contact, const std::string& file,
                            std::uint16_t status = 1) {
  FaxRecord r;
  r.contact = contact;
  r.telephone = "555-" + contact;
  r.remoteStationId = "ID " + contact;
  r.info1 = r.info2 = "";
  r.fileName = file;
  r.status = status;
  r.pages = 2;
  r.resolution = 1;
  r.date = FileTime::FromTicks(133'000'000'000'000'000ULL);
  return r;
}
}  // namespace vexo::test
