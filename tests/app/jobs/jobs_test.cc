// The fax jobs' parts that need no modem: fax file names, call records, the
// start-up, the home lock, the relist socket, lending the modem, failed voice calls' boxes,
// filing that fails and its recovery, outcomes and PDF copies.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <tiffio.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/jobs/app_oper.h"
#include "app/jobs/call_record.h"
#include "app/jobs/fax_files.h"
#include "app/jobs/home_lock.h"
#include "app/jobs/list_refresh.h"
#include "app/jobs/modem_lending.h"
#include "app/jobs/outbox.h"
#include "app/jobs/pdf_copy.h"
#include "app/jobs/user_messages.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "platform/telephony/linux_provider.h"
#include "tests/app/store_test_util.h"
#include "tests/support/box_recorder.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

std::string PoolText() { return testing::PrintToString(TakeMessages()); }

// A fax file of blank pages (fine or normal), written by libtiff.
void WriteFaxFile(const fs::path& file, int pages, bool fine) {
  TIFF* t = TIFFOpen(file.c_str(), "w");
  ASSERT_NE(t, nullptr);
  const std::vector<std::uint8_t> row(1728 / 8);
  for (int page = 0; page < pages; ++page) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 50);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, fine ? 196.0f : 98.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_SOFTWARE, "VEXO");
    for (std::uint32_t r = 0; r < 50; ++r)
      TIFFWriteScanline(t, const_cast<std::uint8_t*>(row.data()), r, 0);
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
}

// The records of a folder of the home's store.
std::vector<FaxRecord> Filed(const TempDir& home, int folder) {
  DBFunc store(OptionsFor(home));
  CollectingSink list;
  EXPECT_EQ(store.ListFolder(list, kFolders[folder].databaseType, 0, kSortAscending), 1);
  std::vector<FaxRecord> records(list.items.size());
  for (std::size_t i = 0; i < records.size(); ++i) store.ReadRecord(list.items[i].oid, records[i]);
  return records;
}

AppSettings SettingsIn(const TempDir& home) {
  AppSettings settings;
  settings.SetHomeDirectory(home.path().string());
  EXPECT_TRUE(settings.LoadSettings());
  EXPECT_TRUE(settings.EnsureDirectories());
  return settings;
}

TEST(FaxFileNames, SixBase36DigitsLettersFirst) {
  // The last number is followed by the first name.
  const std::uint32_t numbers[] = {0, 1, 25, 26, 36, kFaxNameCount - 1, kFaxNameCount};
  const char* names[] = {"AAAAAA", "AAAAAB", "AAAAAZ", "AAAAA0", "AAAABA", "999999", "AAAAAA"};
  for (std::size_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(ReceivedFileName(numbers[i]), "QX" + std::string(names[i]) + ".tif");
}

TEST(FaxFileNames, NewNamesStepPastFilesInUseAndTheNumberIsSavedAtOnce) {
  TempDir home;
  AppSettings settings = SettingsIn(home);
  const fs::path data = settings.TIFDataDir;

  settings.ProfileEmail = "kept in memory";  // only the number is written
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
  EXPECT_EQ(restarted.ProfileEmail, "");
  EXPECT_EQ(NewFaxFile(restarted, true), (data / "QXAAAAAD.tif").string());

  // A process holding an older number takes the file's and keeps other keys.
  restarted.LocalCSID = "Other";
  ASSERT_TRUE(restarted.SaveSettings());
  EXPECT_EQ(NewFaxFile(settings, true), (data / "QXAAAAAE.tif").string());
  EXPECT_EQ(settings.StoredTiffAutoNumber(), 5u);
  EXPECT_EQ(SettingsIn(home).LocalCSID, "Other");

  // The last number wraps to the first name.
  ASSERT_TRUE(settings.CommitTiffAutoNumber(kFaxNameCount - 1));
  EXPECT_EQ(fs::path(NewFaxFile(settings, true)).filename(), "QX999999.tif");
  EXPECT_EQ(settings.StoredTiffAutoNumber(), 0u);
}

TEST(FaxFileNames, AnUnwritableDataDirectoryGivesNoNameAndAReport) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  TempDir home;
  AppSettings settings = SettingsIn(home);
  fs::permissions(settings.TIFDataDir, fs::perms::owner_read | fs::perms::owner_exec);
  PoolText();
  EXPECT_EQ(NewFaxFile(settings, true), "");
  EXPECT_NE(PoolText().find("Create File Error"), std::string::npos);
}

// Whole records of a send, a busy line and a call-in are checked over the line
// simulator; here the cases those calls do not reach.
TEST(CallRecords, APartialSendAndAFailedReceiveAreFiledAsTheTableSays) {
  CallFacts send;
  send.kind = kSendJob;
  send.result = 1;
  send.note = "see page 2";
  send.fax.pagesTransferred = 1;
  send.fax.totalPages = 3;
  send.link = LinkCoding{true, FaxCoding::kMmr, 256};
  const FaxRecord sent = MakeCallRecord(send);
  EXPECT_EQ(CallFolder(kSendJob), FOLDER_SENT);
  EXPECT_EQ(sent.status, 2) << "partly sent";
  EXPECT_EQ(sent.pages, 3) << "the pages of the file, not the pages that went";
  EXPECT_EQ(sent.noteFlag, 1);
  EXPECT_EQ(sent.info2, "ECM, MMR") << "the coding goes beside the sender's note";

  CallFacts receive = send;
  receive.kind = kReceiveJob;
  receive.result = -1;
  receive.fax.pagesTransferred = 0;
  const FaxRecord received = MakeCallRecord(receive);
  EXPECT_EQ(CallFolder(kReceiveJob), FOLDER_INBOX);
  EXPECT_EQ(received.status, 0);
  EXPECT_EQ(received.pages, 0) << "the pages that arrived";
  EXPECT_EQ(received.info2, "") << "no page, no coding";
  EXPECT_EQ(received.noteFlag, 0);
  EXPECT_EQ(received.note, "");
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
  // Makes dir the resource directory, with only the named string tables.
  static void UseTables(const TempDir& dir, std::initializer_list<const char*> names) {
    fs::create_directories(dir.path() / "strings");
    for (const char* name : names)
      fs::copy_file(ResourceDir() / "strings" / (std::string(name) + ".txt"),
                    dir.path() / "strings" / (std::string(name) + ".txt"));
    ::setenv("VEXO_RESOURCES", dir.path().c_str(), 1);
  }
  void Configure(const std::function<void(AppSettings&)>& change) {
    AppSettings settings = SettingsIn(home);
    change(settings);
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
  Configure([](AppSettings& s) { s.UILanguage = 3; });
  UseTables(resources, {"EngRes", "ChsRes"});
  {
    AppOper app(Options());
    ASSERT_EQ(app.Startup(), 1) << PoolText();
    EXPECT_EQ(LoadedResName(), "EngRes");
  }
  TempDir only;
  UseTables(only, {"ChsRes"});
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  EXPECT_EQ(LoadedResName(), "ChsRes");
  EXPECT_EQ(app.CurrentModem(), kSerialPortModem) << "ModemName empty: the serial port";
  EXPECT_TRUE(fs::exists(home.path() / "Log" / "VexoSysLog.log"));
}

TEST_F(AppStartup, EnglishMissingFailsWithTheMessage) {
  Configure([](AppSettings& s) { s.UILanguage = 1; });
  UseTables(resources, {"ChsRes", "ChtRes"});
  AppOper app(Options());
  EXPECT_EQ(app.Startup(), 0);
  EXPECT_NE(PoolText().find("Fail to load resource dll, ErrMsg = "), std::string::npos);
  EXPECT_FALSE(app.Started());
}

TEST_F(AppStartup, AModemNameOutsideTheListMeansEveryModemAndReceivingIsRefused) {
  Configure([](AppSettings& s) { s.ModemName = "Auto Retry All Modem"; });
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  EXPECT_EQ(app.CurrentModem(), kEveryModem);
  ASSERT_TRUE(app.Job().StartJob(kReceiveJob));
  EXPECT_EQ(app.RunJob(kReceiveJob), kJobWaitFailed);
  EXPECT_NE(PoolText().find("Auto Retry All Modem"), std::string::npos);
  EXPECT_EQ(app.Job().State(), 0u) << "the job ended";
}

TEST_F(AppStartup, ASecondJobOnTheHomeIsRefusedWithAClearMessageAndTheSendFiledAsFailed) {
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  HomeJobLock other(app.Home());
  ASSERT_TRUE(other.Held());
  EXPECT_FALSE(HomeJobLock(app.Home()).Held());
  app.Inputs().file = home.path().string() + "/none.tif";
  ASSERT_TRUE(app.Job().StartJob(kSendJob));
  EXPECT_EQ(app.RunJob(kSendJob), -1);
  EXPECT_NE(PoolText().find("Another fax job is running"), std::string::npos);
  // The composed fax is listed in Sent to be sent again, not left unlisted.
  const auto sent = Filed(home, FOLDER_SENT);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tie(sent[0].status, sent[0].fileName),
            std::make_tuple(std::uint16_t{0}, std::string("none.tif")));
}

TEST_F(AppStartup, AFailedSendIsFiledWithTheFilesPagesAndAFaxTheStoreRefusedIsFiledAtTheNextStart) {
  Configure([](AppSettings&) {});  // not a first start
  AppOperOptions options = Options();
  options.deviceOverride = (home.path() / "no-modem").string();
  AppOper app(options);
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  const fs::path data = app.Settings().TIFDataDir;
  WriteFaxFile(data / "QXAAAAAA.tif", 2, true);
  WriteFaxFile(data / "QXAAAAAB.tif", 3, false);
  app.Inputs().file = (data / "QXAAAAAA.tif").string();
  ASSERT_TRUE(app.Job().StartJob(kSendJob));
  EXPECT_EQ(app.RunJob(kSendJob), -1) << "the port cannot be opened";
  auto sent = Filed(home, FOLDER_SENT);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tie(sent[0].status, sent[0].pages, sent[0].resolution),
            std::make_tuple(std::uint16_t{0}, std::uint16_t{2}, std::uint16_t{2}));

  // Another connection holds faxes.db: the record cannot be written.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((home.path() / kStoreFileName).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  app.Inputs().file = (data / "QXAAAAAB.tif").string();
  ASSERT_TRUE(app.Job().StartJob(kSendJob));
  app.RunJob(kSendJob);
  EXPECT_TRUE(app.LastFilingFailed());
  EXPECT_NE(PoolText().find("QXAAAAAB.tif is kept"), std::string::npos);
  EXPECT_TRUE(fs::exists(data / "QXAAAAAB.tif"));
  {
    BoxRecorder presenter(IDNO);  // a success that was not filed is not announced as one
    app.ShowOutcome(kReceiveJob, 0);
    EXPECT_EQ(presenter.boxes, std::vector<std::string>{LoadResString(str::kReceivedNotFiled)});
  }
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  {  // Not while a job of the home runs: it may be writing the file.
    HomeJobLock job(app.Home());
    ASSERT_EQ(AppOper(options).Startup(), 1);
    EXPECT_TRUE(Filed(home, FOLDER_INBOX).empty());
  }
  ASSERT_EQ(AppOper(options).Startup(), 1) << PoolText();
  const auto inbox = Filed(home, FOLDER_INBOX);
  ASSERT_EQ(inbox.size(), 1u) << "a file a record names stays where it is";
  EXPECT_EQ(inbox[0].fileName, "QXAAAAAB.tif");
  EXPECT_EQ(std::tie(inbox[0].pages, inbox[0].resolution, inbox[0].noteFlag),
            std::make_tuple(std::uint16_t{3}, std::uint16_t{1}, std::uint16_t{1}));
  EXPECT_EQ(inbox[0].note, LoadResString(str::kRecoveredFaxNote));
}

// Every row of the outcome table, answered Yes and No, leaves the pool empty:
// the job's notices are shown or logged, never left for a later dialog.
TEST_F(AppStartup, EveryOutcomeShowsOrClearsTheRecordsOfItsJob) {
  AppOper app(Options());
  ASSERT_EQ(app.Startup(), 1) << PoolText();
  EXPECT_FALSE(app.MakeStoreOptions().settingsFileExisted) << "a first start";
  AppOper again(Options());
  ASSERT_EQ(again.Startup(), 1);
  EXPECT_TRUE(again.MakeStoreOptions().settingsFileExisted);
  for (const bool everyModem : {false, true}) {
    FaxResult none;
    if (everyModem) app.Send1TiffFaxAutoModem("", "1", &none);  // over no modem at all
    for (const std::uint32_t kind : {kSendJob, kReceiveJob})
      for (const int result : {0, 1, -1, -2, -3})
        for (const int answer : {IDYES, IDNO}) {
          SCOPED_TRACE(testing::Message()
                       << everyModem << " " << kind << " " << result << " " << answer);
          ReportText(0, MSG_INFORMATION | MSG_TO_LOG | MSG_TO_USER, "AppOper",
                     "Send1TiffFaxAutoModem", "COM1:");
          BoxRecorder presenter(answer);
          app.ShowOutcome(kind, result);
          EXPECT_EQ(ErrorPool::Instance().Count(), 0u);
        }
  }
}

TEST(PdfCopies, NamedByDateAndSenderNeverReplacedAndAMissingFolderIsReported) {
  TempDir dir;
  const fs::path fax = dir.path() / "QXAAAAAA.tif";
  WriteFaxFile(fax, 2, true);
  const LocalTime at{2026, 12, 9, 14, 3, 22};
  const std::string first = WritePdfCopy(fax, dir.path(), at, "Far/Station");
  EXPECT_EQ(first, (dir.path() / "2026-12-09 14-03-22 Far_Station.pdf").string());
  EXPECT_EQ(fs::path(WritePdfCopy(fax, dir.path(), at, "Far/Station")).filename(),
            "2026-12-09 14-03-22 Far_Station (2).pdf");
  EXPECT_EQ(PdfCopyName(at, " "), "2026-12-09 14-03-22 unknown.pdf");
  std::unique_ptr<FILE, int (*)(FILE*)> info(::popen(("pdfinfo '" + first + "'").c_str(), "r"),
                                             ::pclose);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), info.get()));
  EXPECT_NE(text.find("Pages:           2"), std::string::npos) << text;
  PoolText();
  EXPECT_EQ(WritePdfCopy(fax, dir.path() / "missing", at, "x"), "");
  EXPECT_NE(PoolText().find("could not be written"), std::string::npos);
}

// A running vexofax hearing the request is checked with the program's own
// server in the ui tests; here no program, and the socket's name.
TEST(ListRefresh, NoRunningProgramIsNoErrorAndLongHomesGetAShortSocketName) {
  TempDir home;
  EXPECT_FALSE(AskRunningAppToRelist(home.path().string()));
  EXPECT_EQ(ListRefreshSocketPath(home.path().string()), home.path().string() + "/vexofax.sock");
  const std::string deep = home.path().string() + "/" + std::string(120, 'd');
  const std::string other = ListRefreshSocketPath(deep);
  EXPECT_LT(other.size(), sizeof(sockaddr_un::sun_path))
      << "too long for the home: a short name elsewhere";
  EXPECT_NE(other, ListRefreshSocketPath(deep + "x"));
}

TEST(ModemLending, TheLenderAgreesOrNotAndTheLoanEndsWhenTheBorrowerCloses) {
  TempDir home;
  const std::string dir = home.path().string();
  EXPECT_FALSE(ModemLoan::Borrow(dir)) << "nobody lends";
  {  // the socket file of a lender that ended without removing it
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, ModemLendSocketPath(dir).c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  std::atomic<bool> agree = false;
  ModemLendListener listener(dir, [&] { return agree.load(); });
  ASSERT_TRUE(listener.Listening());
  EXPECT_FALSE(ModemLendListener(dir, [] { return true; }).Listening()) << "one lender a home";
  EXPECT_FALSE(ModemLoan::Borrow(dir)) << "a call is being received";
  agree = true;
  {
    const auto loan = ModemLoan::Borrow(dir);
    ASSERT_TRUE(loan);
    EXPECT_TRUE(listener.Lent());
  }
  EXPECT_TRUE(WaitFor([&] { return !listener.Lent(); }, std::chrono::milliseconds(5000)));
}

// The string with the id, its "%s" replaced by value.
std::string Filled(unsigned id, const std::string& value) {
  std::string text = LoadResString(id);
  return text.replace(text.find("%s"), 2, value);
}

// The boxes the user sees for a failed voice call of the telephony modem line.
TEST(VoiceCallMessages, EachFailureShowsItsBoxByTheNumberSetting) {
  using Kind = VoiceCallFailure::Kind;
  const std::string busy = LoadResString(65176), failed = LoadResString(str::kCallFailed);
  const struct {
    VoiceCallFailure failure;
    std::uint32_t useWhatAsSeedNum;
    std::string box;  // none when empty
  } rows[] = {
      {{Kind::NoReply, 0}, 1, failed},
      {{Kind::NoReply, 0}, 0, failed},
      {{Kind::Disconnected, LINEDISCONNECTMODE_BUSY}, 1, Filled(str::kCallFailedDialled, busy)},
      {{Kind::Disconnected, LINEDISCONNECTMODE_BUSY}, 2, Filled(str::kCallFailedSeed, busy)},
      {{Kind::Disconnected, LINEDISCONNECTMODE_NORMAL}, 1, Filled(str::kCallFailedDialled, "0x1")},
      {{Kind::Disconnected, LINEDISCONNECTMODE_BUSY}, 0, ""},  // no number setting applies
      {{Kind::Disconnected, LINEDISCONNECTMODE_BUSY}, 3, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << static_cast<int>(row.failure.kind) << " reason " << row.failure.disconnectReason
                 << " use " << row.useWhatAsSeedNum);
    BoxRecorder presenter;
    ShowVoiceCallFailure(row.failure, row.useWhatAsSeedNum);
    EXPECT_EQ(presenter.boxes,
              row.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.box});
    for (const unsigned style : presenter.styles) EXPECT_EQ(style, unsigned{MB_OK | MB_ICONSTOP});
  }
  // A TIFF attachment refused for its grey pages.
  BoxRecorder presenter;
  ShowNotBilevel("scan.tif");
  EXPECT_EQ(presenter.boxes, std::vector<std::string>{Filled(str::kNotBilevel, "scan.tif")});
}

// The reports a failed call leaves, as the sessions word them, after a report
// naming no reason; once pages went, the line is what ended the call.
TEST(OutboxOutcomes, TheFirstReportNamingAReasonDecides) {
  using enum OutboxOutcome;
  const struct {
    int result;
    std::uint32_t stop;
    const char* function;
    const char* message;
    OutboxOutcome outcome;
  } rows[] = {
      {0, 0, "", "", kSent},
      {1, 0, "", "", kPartlySent},
      {-1, 0, "Dial", "", kCallFailed},
      {-1, 0, "Dial", "An equipment busy tone is detected", kBusy},
      {-1, 0, "X", "Ringback detected, dial attempt timed out with no answer.", kNoAnswer},
      {-1, 0, "X", "Auto speed failed because no carrier was detected.", kNoCarrier},
      {-1, 0, "GetFrame", "Call answered without successful FAX handshake.", kNoCarrier},
      {-1, 0, "X", "Modem Hangup, Reason = No loop current (Dial tone).", kNoDialTone},
      {-1, 0, "ProcessTrain", "Call answered without successful FAX handshake.", kTrainingFailed},
      {-1, 0, "X", "Modem Hangup, Reason = Remote cannot receive or send", kFarEndCannotReceive},
      {-1, 0, "X", "Remote receiver do not have the capability to receive.", kFarEndCannotReceive},
      {-1, 0, "X", "Modem Hangup, Reason = No response to EOP", kLineDropped},
      {1, 0x10002, "X", "Modem return NO CARRIER result.", kLineDropped},
  };
  for (const auto& row : rows) {
    const std::vector<ErrorRecord> reports = {
        {0, kMsgDefault, TextKind::Wide, "M", "Dial", "Wait modem OK response timeout."},
        {0, kMsgDefault, TextKind::Wide, "M", row.function, row.message}};
    EXPECT_EQ(CallOutcome(row.result, row.stop, reports), row.outcome) << row.message;
  }
}

// The outbox with a clock of the test's own, its calls made through a port
// that does not open or scripted: each call ends with the next outcome, a
// cancel of the fax first when asked.
class OutboxJobs : public AppStartup {
 protected:
  void SetUp() override {
    AppStartup::SetUp();
    AppOperOptions options = Options();
    options.deviceOverride = (home.path() / "no-modem").string();
    app = std::make_unique<AppOper>(options);
    ASSERT_EQ(app->Startup(), 1) << PoolText();
    store = CreateDBFunc(app->MakeStoreOptions());
  }
  std::unique_ptr<Outbox> Make(OutboxCaller call = {}) {
    return std::make_unique<Outbox>(
        *app, *store, [this] { return now; }, std::move(call));
  }
  OutboxCall Scripted() {
    EXPECT_TRUE(!cancelInCall || Make()->Cancel(id));
    OutboxCall call;
    call.made = true;
    call.outcome = outcomes.at(calls++);
    call.result = call.outcome == OutboxOutcome::kSent ? 0 : -1;
    return call;
  }
  void Queue(Outbox& outbox) {
    const fs::path file = fs::path(app->Settings().TIFDataDir) / ("Q" + std::to_string(id));
    WriteFaxFile(file, 2, false);
    id = outbox.Add({{file.string()}, "5551234", "Ann", "", false, now});
  }
  OutboxState State() {
    QueuedFax fax;
    EXPECT_EQ(store->ReadQueued(id, fax), 1);
    return fax.state.value_or(OutboxState{});
  }

  std::unique_ptr<AppOper> app;
  std::unique_ptr<DBFunc> store;
  std::chrono::system_clock::time_point now{std::chrono::hours(500'000)};
  std::vector<OutboxOutcome> outcomes;
  std::size_t calls = 0;
  bool cancelInCall = false;
  CEOID id = 0;
};

TEST_F(OutboxJobs, ALineOutcomeIsATryACallNotMadeIsNoneAndAFaxTheFarEndCannotTakeIsGivenUp) {
  Queue(*Make());
  const OutboxState queued = State();
  EXPECT_TRUE(Make()->RunDue().stopped);
  EXPECT_EQ(State(), queued) << "still due, no try counted";
  PoolText();
  outcomes = {OutboxOutcome::kBusy, OutboxOutcome::kFarEndCannotReceive};
  const auto outbox = Make([this](const SendInputs&) { return Scripted(); });
  EXPECT_EQ(outbox->RunDue().calls, 1);
  EXPECT_EQ(OutboxOutcomeText(State()), "Busy");
  now += std::chrono::minutes(5);
  EXPECT_EQ(outbox->RunDue().failed, 1);
  EXPECT_EQ(State().status, OutboxStatus::kFailed);
  EXPECT_EQ(TakeMessages().back(),
            "The fax to Ann (5551234) cannot go: the far end cannot receive it. It stays in the "
            "Sending folder, marked as failed.");
  EXPECT_FALSE(outbox->Reschedule(999'999, now));
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Record 999999 is not a fax in the Sending "
                                                     "folder, so it cannot be rescheduled."});
  // A record moved into Sending without a number joins the queue held for one.
  FaxRecord moved;
  moved.fileName = "Q" + std::to_string(id);
  ASSERT_EQ(store->AddRecord(FOLDER_SENDING, moved), 1);
  id = moved.oid;
  EXPECT_TRUE(outbox->Reschedule(id, now));
  EXPECT_EQ(State().status, OutboxStatus::kNeedsNumber);
}

// Cancelled during its call, a fax is not called again: filed in Sent when it
// went whole, else left in Deleted; its file stays, nothing is reported.
TEST_F(OutboxJobs, AFaxCancelledDuringItsCallIsFiledInSentOnlyWhenItWent) {
  outcomes = {OutboxOutcome::kSent, OutboxOutcome::kNoAnswer};
  cancelInCall = true;
  const auto outbox = Make([this](const SendInputs&) { return Scripted(); });
  for (const int sent : {1, 0}) {
    Queue(*outbox);
    EXPECT_EQ(outbox->RunDue().sent, sent);
    now += std::chrono::hours(1);
    EXPECT_EQ(outbox->RunDue().calls, 0);
    EXPECT_EQ(PoolText(), "{}");
  }
  const auto deleted = Filed(home, FOLDER_DELETED);
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(Filed(home, FOLDER_SENT).at(0).fileName, deleted[0].fileName);
  for (const FaxRecord& record : deleted)
    EXPECT_TRUE(fs::exists(fs::path(app->Settings().TIFDataDir) / record.fileName.value_or("")));
}

}  // namespace
}  // namespace vexo::test
