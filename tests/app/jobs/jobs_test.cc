// The fax jobs' parts that need no modem: the names of new fax files and the
// running number behind them, the record a call is filed as, the start-up's
// string-table fall-backs and failures, the one-job-per-home lock and the
// relist request to a running vexofax.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/jobs/app_oper.h"
#include "app/jobs/call_record.h"
#include "app/jobs/fax_files.h"
#include "app/jobs/home_lock.h"
#include "app/jobs/list_refresh.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/strings.h"
#include "platform/telephony/linux_provider.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

std::string PoolText() {
  std::string text;
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record)) text += record.message + "\n";
  return text;
}

AppSettings SettingsIn(const TempDir& home) {
  AppSettings settings;
  settings.SetHomeDirectory(home.path().string());
  EXPECT_TRUE(settings.LoadSettings());
  EXPECT_TRUE(settings.EnsureDirectories());
  return settings;
}

TEST(FaxFileNames, SixBase36DigitsLettersFirst) {
  EXPECT_EQ(ReceivedFileName(0), "QXAAAAAA.tif");
  EXPECT_EQ(ReceivedFileName(1), "QXAAAAAB.tif");
  EXPECT_EQ(ReceivedFileName(25), "QXAAAAAZ.tif");
  EXPECT_EQ(ReceivedFileName(26), "QXAAAAA0.tif");
  EXPECT_EQ(ReceivedFileName(36), "QXAAAABA.tif");
  EXPECT_EQ(ReceivedFileName(kFaxNameCount - 1), "QX999999.tif");
  EXPECT_EQ(ReceivedFileName(kFaxNameCount), "QXAAAAAA.tif") << "wraps around";
}

TEST(FaxFileNames, NewNamesStepPastFilesInUseAndTheNumberIsSavedAtOnce) {
  TempDir home;
  AppSettings settings = SettingsIn(home);
  const fs::path data = settings.TIFDataDir;

  const std::string first = NewFaxFile(settings, true);
  EXPECT_EQ(first, (data / "QXAAAAAA.tif").string());
  EXPECT_TRUE(fs::exists(first)) << "taken by creating it";
  EXPECT_EQ(settings.StoredTiffAutoNumber(), 1u) << "saved before the call ends";

  // A file left by a crash (or another program) is never overwritten.
  std::ofstream(data / "QXAAAAAB.tif") << "filed fax";
  const std::string second = NewFaxFile(settings, false);
  EXPECT_EQ(second, (data / "QXAAAAAC.tif").string());
  EXPECT_FALSE(fs::exists(second)) << "only named: the writer creates it";

  // A restart goes on from the saved number.
  AppSettings restarted = SettingsIn(home);
  EXPECT_EQ(restarted.TiffAutoNumber, 3u);
  EXPECT_EQ(NewFaxFile(restarted, true), (data / "QXAAAAAD.tif").string());

  // A process still holding an older number takes the file's larger one.
  EXPECT_EQ(NewFaxFile(settings, true), (data / "QXAAAAAE.tif").string());
  EXPECT_EQ(settings.StoredTiffAutoNumber(), 5u);
}

TEST(FaxFileNames, TheLastNumberWrapsToTheFirstName) {
  TempDir home;
  AppSettings settings = SettingsIn(home);
  ASSERT_TRUE(settings.CommitTiffAutoNumber(kFaxNameCount - 1));
  EXPECT_EQ(fs::path(NewFaxFile(settings, true)).filename(), "QX999999.tif");
  EXPECT_EQ(settings.StoredTiffAutoNumber(), 0u);
  EXPECT_EQ(fs::path(NewFaxFile(settings, true)).filename(), "QXAAAAAA.tif");
}

TEST(FaxFileNames, AnUnwritableDataDirectoryGivesNoNameAndAReport) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  TempDir home;
  AppSettings settings = SettingsIn(home);
  fs::permissions(settings.TIFDataDir, fs::perms::owner_read | fs::perms::owner_exec);
  PoolText();
  EXPECT_EQ(NewFaxFile(settings, true), "");
  EXPECT_NE(PoolText().find("Create File Error"), std::string::npos);
  fs::permissions(settings.TIFDataDir, fs::perms::owner_all);
}

TEST(CallRecords, ASendAndAReceiveAreFiledAsTheTableSays) {
  CallFacts send;
  send.kind = kSendJob;
  send.result = 1;
  send.fax.pagesTransferred = 1;
  send.fax.totalPages = 3;
  send.fax.SetRemoteId(u"+1 555 9999");
  send.fax.resolution = 2;
  send.fileName = "QXAAAAAC.tif";
  send.recipient = "Ann Example";
  send.number = "5551234";
  send.note = "see page 2";
  const FaxRecord sent = MakeCallRecord(send);
  EXPECT_EQ(CallFolder(kSendJob), FOLDER_SENT);
  EXPECT_EQ(sent.status, 2) << "partly sent";
  EXPECT_EQ(sent.contact, "Ann Example");
  EXPECT_EQ(sent.telephone, "5551234");
  EXPECT_EQ(sent.remoteStationId, "+1 555 9999");
  EXPECT_EQ(sent.fileName, "QXAAAAAC.tif");
  EXPECT_EQ(sent.pages, 3) << "the pages of the file, not the pages that went";
  EXPECT_EQ(sent.resolution, 2);
  EXPECT_EQ(sent.noteFlag, 1);
  EXPECT_EQ(sent.note, "see page 2");

  CallFacts receive = send;
  receive.kind = kReceiveJob;
  receive.result = 0;
  receive.fax.resolution = 1;
  const FaxRecord received = MakeCallRecord(receive);
  EXPECT_EQ(CallFolder(kReceiveJob), FOLDER_INBOX);
  EXPECT_EQ(received.status, 1);
  EXPECT_EQ(received.contact, "+1 555 9999") << "the remote id names the sender";
  EXPECT_EQ(received.telephone, "");
  EXPECT_EQ(received.pages, 1) << "the pages that arrived";
  EXPECT_EQ(received.resolution, 1);
  EXPECT_EQ(received.noteFlag, 0);
  EXPECT_EQ(received.note, "");

  receive.result = -1;
  EXPECT_EQ(MakeCallRecord(receive).status, 0);
}

// Start-up in a temporary home with the string tables of a directory of the
// test's own (VEXO_RESOURCES), and no serial lines of the machine.
class AppStartup : public ::testing::Test {
 protected:
  void SetUp() override { PoolText(); }
  void TearDown() override {
    ::unsetenv("VEXO_RESOURCES");
    LoadResDll("EngRes");
  }
  void UseTables(std::initializer_list<const char*> names) {
    fs::create_directories(resources.path() / "strings");
    for (const char* name : names)
      fs::copy_file(ResourceDir() / "strings" / (std::string(name) + ".txt"),
                    resources.path() / "strings" / (std::string(name) + ".txt"));
    ::setenv("VEXO_RESOURCES", resources.path().c_str(), 1);
  }
  void SetLanguage(std::uint32_t language) {
    AppSettings settings = SettingsIn(home);
    settings.UILanguage = language;
    ASSERT_TRUE(settings.SaveSettings());
  }
  AppOperOptions Options() {
    AppOperOptions options;
    options.homeDirectory = home.path().string();
    options.installSampleCovers = false;
    options.makeProvider = [this](const AppSettings& s) {
      return std::make_unique<LinuxTelephonyProvider>(s.TelephonyDevices, noLines.path().string());
    };
    return options;
  }

  TempDir home;
  TempDir resources;
  TempDir noLines;
};

TEST_F(AppStartup, ChineseFallsBackToEnglishFirstThenSimplified) {
  SetLanguage(3);
  UseTables({"EngRes", "ChsRes"});
  {
    AppOper app(Options());
    ASSERT_EQ(app.Startup(), 1) << PoolText();
    EXPECT_EQ(LoadedResName(), "EngRes");
  }
  TempDir only;
  fs::create_directories(only.path() / "strings");
  fs::copy_file(resources.path() / "strings" / "ChsRes.txt",
                only.path() / "strings" / "ChsRes.txt");
  ::setenv("VEXO_RESOURCES", only.path().c_str(), 1);
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  EXPECT_EQ(LoadedResName(), "ChsRes");
  EXPECT_EQ(app.CurrentModem(), kSerialPortModem) << "ModemName empty: the serial port";
  EXPECT_TRUE(fs::exists(home.path() / "Log" / "VexoSysLog.log"));
}

TEST_F(AppStartup, EnglishMissingFailsWithTheMessage) {
  SetLanguage(1);
  UseTables({"ChsRes", "ChtRes"});
  AppOper app(Options());
  EXPECT_EQ(app.Startup(), 0);
  EXPECT_NE(PoolText().find("Fail to load resource dll, ErrMsg = "), std::string::npos);
  EXPECT_FALSE(app.Started());
}

TEST_F(AppStartup, ADirectoryThatCannotBeMadeFailsStartUp) {
  AppSettings settings = SettingsIn(home);
  std::ofstream(home.path() / "plain-file") << "x";
  settings.TIFDataDir = (home.path() / "plain-file" / "Data").string() + "/";
  ASSERT_TRUE(settings.SaveSettings());
  AppOper app(Options());
  EXPECT_EQ(app.Startup(), 0);
  EXPECT_NE(PoolText().find("Fail to create directory"), std::string::npos);
}

TEST_F(AppStartup, AModemNameOutsideTheListMeansEveryModemAndReceivingIsRefused) {
  AppSettings settings = SettingsIn(home);
  settings.ModemName = "Auto Retry All Modem";
  ASSERT_TRUE(settings.SaveSettings());
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  EXPECT_EQ(app.CurrentModem(), kEveryModem);
  ASSERT_TRUE(app.Job().StartJob(kReceiveJob));
  EXPECT_EQ(app.RunJob(kReceiveJob), kJobWaitFailed);
  EXPECT_NE(PoolText().find("Auto Retry All Modem"), std::string::npos);
  EXPECT_EQ(app.Job().State(), 0u) << "the job ended";
}

TEST_F(AppStartup, ASecondJobOnTheHomeIsRefusedWithAClearMessage) {
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  HomeJobLock other(app.Home());
  ASSERT_TRUE(other.Held());
  EXPECT_FALSE(HomeJobLock(app.Home()).Held());
  app.Inputs().file = home.path().string() + "/none.tif";
  ASSERT_TRUE(app.Job().StartJob(kSendJob));
  EXPECT_EQ(app.RunJob(kSendJob), -1);
  EXPECT_NE(PoolText().find("Another fax job is running"), std::string::npos);
}

TEST(ListRefresh, ARunningProgramHearsTheRequestAndNoneIsNoError) {
  TempDir home;
  EXPECT_FALSE(AskRunningAppToRelist(home.path().string()));

  const std::string path = ListRefreshSocketPath(home.path().string());
  EXPECT_EQ(path, home.path().string() + "/vexofax.sock");
  const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(server, 1), 0);
  EXPECT_TRUE(AskRunningAppToRelist(home.path().string()));
  const int peer = ::accept(server, nullptr, nullptr);
  char line[32] = {};
  EXPECT_GT(::read(peer, line, sizeof line - 1), 0);
  EXPECT_STREQ(line, kRefreshListLine);
  ::close(peer);
  ::close(server);

  const std::string deep = home.path().string() + "/" + std::string(120, 'd');
  const std::string other = ListRefreshSocketPath(deep);
  EXPECT_LT(other.size(), sizeof address.sun_path)
      << "too long for the home: a short name elsewhere";
  EXPECT_NE(other, ListRefreshSocketPath(deep + "x"));
}

}  // namespace
}  // namespace vexo::test
