#include "tests/sim/app_harness.h"

#include <gtest/gtest.h>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "app/store/fax_list_sink.h"
#include "base/error_pool.h"
#include "platform/telephony/linux_provider.h"
#include "tests/sim/sim_harness.h"

namespace vexo::test {
namespace {

class Records : public FaxListSink {
 public:
  void DeleteAllItems() override { ids.clear(); }
  void SetRecordCount(std::size_t) override {}
  void AddItem(const FaxListItem& item) override { ids.push_back(item.oid); }
  std::vector<CEOID> ids;
};

}  // namespace

void ConfigureHome(const std::filesystem::path& home,
                   const std::function<void(AppSettings&)>& change) {
  AppSettings settings;
  settings.SetHomeDirectory(home.string());
  ASSERT_TRUE(settings.LoadSettings());
  settings.LocalCSID = kSimLocalId;
  if (change) change(settings);
  ASSERT_TRUE(settings.SaveSettings());
}

AppOperOptions SimAppOptions(const std::filesystem::path& home, const std::string& device,
                             const std::filesystem::path& noLines) {
  AppOperOptions options;
  options.homeDirectory = home.string();
  options.deviceOverride = device;
  options.installSampleCovers = false;
  options.makeProvider = [noLines](const AppSettings& s) {
    return std::make_unique<LinuxTelephonyProvider>(s.TelephonyDevices, noLines.string());
  };
  return options;
}

std::unique_ptr<AppOper> StartSimApp(AppOperOptions options) {
  auto app = std::make_unique<AppOper>(std::move(options));
  EXPECT_EQ(app->Startup(), 1) << ::testing::PrintToString(PoolMessages());
  return app;
}

int RunAppJob(AppOper& app, std::uint32_t kind) {
  EXPECT_TRUE(app.Job().StartJob(kind));
  return app.RunJob(kind);
}

std::vector<FaxRecord> FiledRecords(const std::filesystem::path& home, int folder) {
  StoreOptions options;
  options.homeDir = home;
  options.dataDir = home / "Data";
  DBFunc store(options);
  EXPECT_TRUE(store.InitDatabases());
  Records list;
  EXPECT_TRUE(store.ListFolder(list, kFolderTypeBase + folder, 104, kSortAscending));
  std::vector<FaxRecord> records;
  for (const CEOID id : list.ids) {
    FaxRecord record;
    EXPECT_TRUE(store.ReadRecord(id, record));
    records.push_back(record);
  }
  return records;
}

}  // namespace vexo::test
