#include "tests/sim/app_harness.h"

#include <gtest/gtest.h>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "platform/telephony/linux_provider.h"
#include "tests/app/store_test_util.h"

namespace vexo::test {

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
  EXPECT_EQ(app->Startup(), 1) << ::testing::PrintToString(TakeMessages());
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
  CollectingSink list;
  EXPECT_TRUE(store.ListFolder(list, FolderType(folder), PROP_DATE, kSortAscending));
  std::vector<FaxRecord> records;
  for (const CEOID id : list.Ids()) {
    FaxRecord record;
    EXPECT_TRUE(store.ReadRecord(id, record));
    records.push_back(record);
  }
  return records;
}

}  // namespace vexo::test
