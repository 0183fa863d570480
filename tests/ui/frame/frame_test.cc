// The main window over a real home: a SQLite record store with faxes in every
// folder, real fax files in the data folder, the relist socket.
#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/jobs/list_refresh.h"
#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/common/modal_answerer.h"
#include "ui/common/error_dialog.h"
#include "ui/common/qt_presenter.h"
#include "ui/common/status_window.h"
#include "ui/frame/fax_info_view.h"
#include "ui/frame/fax_list_view.h"
#include "ui/frame/folder_tree.h"
#include "ui/frame/icons.h"
#include "ui/frame/instance_server.h"
#include "ui/frame/main_frame.h"

namespace vexo::ui {
namespace {

using vexo::test::TempDir;
using vexo::ui::test::ModalAnswerer;

template <typename Ready>
bool WaitFor(Ready ready, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!ready()) {
    if (timer.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

constexpr std::uint64_t kHour = 36000000000ULL;  // file-time ticks

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorPool::Instance().Clear();
    dataDir = home.dir() + "Data/";
    std::filesystem::create_directories(dataDir);
    settings.TIFDataDir = dataDir;
    settings.OpenedDatabase = FOLDER_INBOX;
    settings.SortOnColumn = 1;
    settings.SortDirection = 0;
    store = CreateDBFunc(StoreOptions{home.path(), dataDir});
    ASSERT_TRUE(store);
    base = LocalFileTimeNow().Ticks();
    File(FOLDER_SENT, "Bert", "555-0101", 3, "QXAAAAAA.tif", 1, 2357);
    File(FOLDER_SENT, "alice", "555-0300", 1, "QXAAAAAB.tif", 2, 100);
    File(FOLDER_INBOX, "carol", "", 2, "QXAAAAAC.tif", 1, 5000);
    File(FOLDER_INBOX, "Able", "", 5, "QXAAAAAD.tif", 1, 100);
    File(FOLDER_INBOX, "bob", "", 4, "QXAAAAAE.tif", 2, 100);
    File(FOLDER_DELETED, "dave", "555-0400", 1, "QXAAAAAF.tif", 1, 100);
  }
  void TearDown() override { ErrorPool::Instance().Clear(); }

  CEOID File(int folder, const std::string& contact, const std::string& phone, int hours,
             const std::string& file, std::uint16_t status, std::size_t bytes) {
    FaxRecord record;
    record.contact = contact;
    record.telephone = phone;
    record.remoteStationId = "+1 555 " + contact;
    record.date = FileTime::FromTicks(base + static_cast<std::uint64_t>(hours) * kHour);
    record.fileName = file;
    record.status = status;
    record.pages = 2;
    record.resolution = 2;
    EXPECT_EQ(store->AddRecord(folder, record), 1);
    if (bytes) std::ofstream(dataDir + file, std::ios::binary) << std::string(bytes, 'x');
    return record.oid;
  }

  FrameContext Context() {
    FrameContext context;
    context.settings = &settings;
    context.job = &job;
    context.store = [this] { return store.get(); };
    return context;
  }

  std::unique_ptr<CMainFrame> MakeFrame() {
    auto frame = std::make_unique<CMainFrame>(Context());
    frame->ShowInitialFolder();
    return frame;
  }

  static QStringList Column(const CFaxListView& list, int column) {
    QStringList texts;
    for (int row = 0; row < list.topLevelItemCount(); ++row) {
      texts << list.topLevelItem(row)->text(column);
    }
    return texts;
  }

  static void Select(CFaxListView& list, const QString& contact) {
    list.clearSelection();
    for (int row = 0; row < list.topLevelItemCount(); ++row) {
      if (list.topLevelItem(row)->text(1) == contact) list.topLevelItem(row)->setSelected(true);
    }
  }

  TempDir home;
  std::string dataDir;
  AppSettings settings;
  JobControl job;
  std::unique_ptr<DBFunc> store;
  std::uint64_t base = 0;
  ScopedQtPresenter presenter;
};

TEST_F(FrameTest, StartsWithTheFoldersAndTheFolderOfTheSettingsSortedAsTheySay) {
  settings.SortDirection = 1;
  auto frame = MakeFrame();
  EXPECT_EQ(frame->windowTitle(), "VexoMFC");
  ASSERT_EQ(frame->Tree().topLevelItemCount(), 4);
  EXPECT_EQ(frame->Tree().topLevelItem(0)->text(0), "Sent");
  EXPECT_EQ(frame->Tree().topLevelItem(3)->text(0), "Deleted");
  EXPECT_EQ(frame->Tree().CurrentFolder(), FOLDER_INBOX);
  CFaxListView& list = frame->List();
  EXPECT_EQ(list.Folder(), FOLDER_INBOX);
  EXPECT_EQ(list.RecordCount(), 3u);
  // Contact, descending, case-insensitive.
  EXPECT_EQ(Column(list, 1), QStringList({"carol", "bob", "Able"}));
  EXPECT_EQ(list.headerItem()->text(1), "Contact");
  EXPECT_EQ(list.headerItem()->text(3), "Date");
  EXPECT_FALSE(list.headerItem()->icon(1).isNull());  // the sort arrow
  for (QAction* action :
       {frame->Action(ID_NEW_FAX), frame->Action(ID_RECEIVE), frame->Action(ID_SETTINGS),
        frame->Action(ID_HELP), frame->Action(ID_EXIT), frame->Action(ID_ATTACHMENTS)}) {
    ASSERT_NE(action, nullptr);
  }
  EXPECT_EQ(frame->Action(ID_RECEIVE)->data().toInt(), 32803);
  EXPECT_FALSE(frame->Info().HasRecord());

  Select(list, "carol");
  ASSERT_TRUE(frame->Info().HasRecord());
  const QStringList lines = frame->Info().Lines();
  ASSERT_EQ(lines.size(), 8);
  EXPECT_EQ(lines[0], "carol");
  EXPECT_EQ(lines[2], "Remote ID: +1 555 carol");
  EXPECT_EQ(lines[5], "Pages: 2");
  EXPECT_EQ(lines[6], "Resolution: Fine");
  EXPECT_EQ(lines[7], "Size: 4.8K");  // 5000 bytes: 4 K and 904 / 103
}

TEST_F(FrameTest, InfoPaneSizeFormatAndRecordsWithoutResolutionOrValidFileName) {
  EXPECT_EQ(CFaxInfoView::SizeText(2357), "2.3K");
  EXPECT_EQ(CFaxInfoView::SizeText(1023), "0.9K");
  EXPECT_EQ(CFaxInfoView::SizeText(0), "0.0K");
  // A record naming a file outside the data folder never has it opened.
  std::ofstream(home.dir() + "outside.tif") << std::string(3000, 'x');
  CFaxInfoView info(&settings, nullptr);
  FaxRecord record;
  record.contact = "x";
  record.fileName = "../outside.tif";
  record.resolution = kAbsentU16;
  info.ShowRecord(record);
  EXPECT_EQ(info.Lines().value(6), "Resolution: ");
  EXPECT_EQ(info.Lines().value(7), "Size: ");
  EXPECT_TRUE(std::filesystem::exists(home.dir() + "outside.tif"));
}

TEST_F(FrameTest, StatusIconsOnlyForKnownStatuses) {
  for (std::uint32_t status = 0; status < kStatusIconCount; ++status) {
    EXPECT_FALSE(StatusIcon(status).isNull()) << status;
  }
  EXPECT_TRUE(StatusIcon(kStatusIconCount).isNull());
  EXPECT_TRUE(StatusIcon(kAbsentU16).isNull());
  File(FOLDER_INBOX, "nobody", "", 9, "", kAbsentU16, 0);
  auto frame = MakeFrame();
  Select(frame->List(), "nobody");
  const auto items = frame->List().selectedItems();
  ASSERT_EQ(items.size(), 1);
  EXPECT_TRUE(items[0]->icon(0).isNull());
}

TEST_F(FrameTest, ColumnClicksSortAndReverseWithTheHeaderArrow) {
  auto frame = MakeFrame();
  CFaxListView& list = frame->List();
  EXPECT_EQ(Column(list, 1), QStringList({"Able", "bob", "carol"}));
  list.SortByColumn(3);  // another column keeps the direction: ascending dates
  EXPECT_EQ(Column(list, 1), QStringList({"carol", "bob", "Able"}));
  EXPECT_TRUE(list.headerItem()->icon(1).isNull());
  EXPECT_FALSE(list.headerItem()->icon(3).isNull());
  list.SortByColumn(3);  // the same column again reverses
  EXPECT_EQ(Column(list, 1), QStringList({"Able", "bob", "carol"}));
  EXPECT_EQ(list.SortColumn(), 3);
  EXPECT_EQ(list.SortDirection(), 1);
  list.SortByColumn(0);  // the status column only takes the focus
  EXPECT_EQ(list.SortColumn(), 3);

  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_SENT));
  EXPECT_EQ(list.Folder(), FOLDER_SENT);
  // The new folder is listed with the remembered column and direction.
  EXPECT_EQ(Column(list, 1), QStringList({"Bert", "alice"}));
  list.SortByColumn(2);
  EXPECT_EQ(Column(list, 2), QStringList({"555-0300", "555-0101"}));

  // The listing state goes back into the settings when the list goes.
  frame.reset();
  EXPECT_EQ(settings.OpenedDatabase, static_cast<std::uint32_t>(FOLDER_SENT));
  EXPECT_EQ(settings.SortOnColumn, 2u);
  EXPECT_EQ(settings.SortDirection, 1u);
}

TEST_F(FrameTest, ListingValuesOutOfRangeAreLimited) {
  settings.SortOnColumn = 7;
  settings.SortDirection = 5;
  auto frame = MakeFrame();
  EXPECT_EQ(frame->List().SortColumn(), 1);
  EXPECT_EQ(frame->List().SortDirection(), 0);
  EXPECT_EQ(Column(frame->List(), 1), QStringList({"Able", "bob", "carol"}));
}

TEST_F(FrameTest, DeleteMovesToDeletedAndInDeletedRemovesForGoodKeepingSharedFiles) {
  auto frame = MakeFrame();
  CFaxListView& list = frame->List();
  Select(list, "bob");
  const CEOID bob = list.SelectedOids().at(0);
  {
    ModalAnswerer answer(QMessageBox::No);
    frame->RunCommand(ID_DELETE_OR_SOUND);
    EXPECT_EQ(answer.boxes, QStringList({"Delete the selected faxes?"}));
  }
  EXPECT_EQ(list.topLevelItemCount(), 3);
  {
    ModalAnswerer answer(QMessageBox::Yes);
    frame->RunCommand(ID_DELETE_OR_SOUND);
  }
  EXPECT_EQ(Column(list, 1), QStringList({"Able", "carol"}));
  EXPECT_EQ(store->FindRecordFolder(bob), -1);  // moved records get new ids
  // The item now at the removed one's place is selected and shown.
  EXPECT_EQ(frame->Info().Lines().value(0), "carol");
  EXPECT_TRUE(std::filesystem::exists(dataDir + "QXAAAAAE.tif"));

  // Two records in Deleted naming one file: the file goes with the last.
  File(FOLDER_DELETED, "dave copy", "555-0400", 1, "QXAAAAAF.tif", 1, 0);
  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_DELETED));
  EXPECT_EQ(Column(list, 1), QStringList({"bob", "dave", "dave copy"}));
  ModalAnswerer answer(QMessageBox::Yes);
  Select(list, "dave");
  list.RunCommand(ID_FAX_DELETE);
  EXPECT_TRUE(std::filesystem::exists(dataDir + "QXAAAAAF.tif"));
  Select(list, "dave copy");
  list.RunCommand(ID_FAX_DELETE);
  EXPECT_FALSE(std::filesystem::exists(dataDir + "QXAAAAAF.tif"));
  EXPECT_EQ(Column(list, 1), QStringList({"bob"}));
  EXPECT_EQ(frame->Info().Lines().value(0), "bob");
  Select(list, "bob");
  list.RunCommand(ID_FAX_DELETE);
  EXPECT_EQ(list.topLevelItemCount(), 0);
  EXPECT_FALSE(frame->Info().HasRecord());
  EXPECT_FALSE(std::filesystem::exists(dataDir + "QXAAAAAE.tif"));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

TEST_F(FrameTest, CopyKeepsTheListMoveTakesTheItemsAway) {
  auto frame = MakeFrame();
  CFaxListView& list = frame->List();
  Select(list, "Able");
  list.topLevelItem(2)->setSelected(true);  // and carol
  list.RunCommand(ID_FAX_COPY_SENT);
  EXPECT_EQ(list.topLevelItemCount(), 3);
  list.RunCommand(ID_FAX_MOVE_DELETED);
  EXPECT_EQ(Column(list, 1), QStringList({"bob"}));
  // The selection followed the removed items: the last item is shown.
  EXPECT_EQ(frame->Info().Lines().value(0), "bob");
  // Moving into the folder shown is not offered; copying into it lists the copy.
  EXPECT_FALSE(list.CommandEnabled(ID_FAX_MOVE_INBOX));
  list.RunCommand(ID_FAX_COPY_INBOX);
  EXPECT_EQ(Column(list, 1), QStringList({"bob", "bob"}));

  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_SENT));
  EXPECT_EQ(Column(list, 1), QStringList({"Able", "alice", "Bert", "carol"}));
  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_DELETED));
  EXPECT_EQ(Column(list, 1), QStringList({"Able", "carol", "dave"}));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

TEST_F(FrameTest, ResendOnlyInTheSentFolderAndNothingWithoutSelection) {
  auto frame = MakeFrame();
  CFaxListView& list = frame->List();
  EXPECT_FALSE(list.CommandEnabled(ID_FAX_DELETE));
  EXPECT_FALSE(list.CommandEnabled(ID_FAX_FORWARD));
  Select(list, "bob");
  EXPECT_TRUE(list.CommandEnabled(ID_FAX_FORWARD));
  EXPECT_FALSE(list.CommandEnabled(ID_FAX_RESEND));
  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_SENT));
  Select(list, "Bert");
  EXPECT_TRUE(list.CommandEnabled(ID_FAX_RESEND));
  bool asked = false;
  // Only the request is looked at here; the send dialogs have tests of their own.
  QObject::disconnect(&list, &CFaxListView::ForwardRequested, frame.get(), nullptr);
  QObject::connect(
      &list, &CFaxListView::ForwardRequested,
      [&](const FaxRecord& record, bool resend) { asked = resend && record.contact == "Bert"; });
  list.RunCommand(ID_FAX_RESEND);
  EXPECT_TRUE(asked);
}

TEST_F(FrameTest, RecordsFiledByAJobJoinTheListOfTheirFolderOnly) {
  auto frame = MakeFrame();
  FaxRecord record;
  record.contact = "from the line";
  record.date = LocalFileTimeNow();
  record.status = 1;
  ASSERT_EQ(store->AddRecord(FOLDER_INBOX, record), 1);
  std::thread([&] { frame->RecordFiled(FOLDER_INBOX, record); }).join();
  std::thread([&] { frame->RecordFiled(FOLDER_SENT, record); }).join();
  ASSERT_TRUE(WaitFor([&] { return frame->List().topLevelItemCount() == 4; }));
  QApplication::processEvents();
  EXPECT_EQ(frame->List().topLevelItemCount(), 4);
  EXPECT_EQ(frame->List().topLevelItem(0)->text(1), "from the line");
  EXPECT_EQ(frame->List().topLevelItem(0)->text(3),
            QString::fromStdString(FormatListDate(record.date)));
}

TEST_F(FrameTest, ASecondStartWithRefreshlistMakesTheRunningOneRelist) {
  auto frame = MakeFrame();
  InstanceServer server;
  QObject::connect(&server, &InstanceServer::RefreshRequested, frame.get(),
                   &CMainFrame::RefreshRequest);
  const QString path = QString::fromStdString(ListRefreshSocketPath(home.dir()));
  // A socket file left by a crashed run does not stop the listening.
  std::ofstream(path.toStdString()) << "";
  ASSERT_TRUE(server.Listen(path));

  File(FOLDER_INBOX, "filed by vexo", "", 1, "", 1, 0);
  EXPECT_EQ(frame->List().topLevelItemCount(), 3);
  // Without the switch the running one is found and nothing else happens.
  bool found = false;
  std::thread([&] { found = SignalRunningInstance(path, {"vexofax"}); }).join();
  EXPECT_TRUE(found);
  QTest::qWait(100);
  EXPECT_EQ(frame->List().topLevelItemCount(), 3);
  std::thread([&] { found = SignalRunningInstance(path, {"vexofax", "-refreshlist"}); }).join();
  EXPECT_TRUE(found);
  EXPECT_TRUE(WaitFor([&] { return frame->List().topLevelItemCount() == 4; }));
  // The vexo command's client is understood the same way.
  File(FOLDER_INBOX, "again", "", 1, "", 1, 0);
  bool asked = false;
  std::thread([&] { asked = AskRunningAppToRelist(home.dir()); }).join();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(WaitFor([&] { return frame->List().topLevelItemCount() == 5; }));
  EXPECT_FALSE(SignalRunningInstance(path + "-none", {"-refreshlist"}));
}

TEST_F(FrameTest, HelpOpensTheLanguagesPageAndLogsWhenItCannot) {
  EXPECT_STREQ(CMainFrame::HelpFileName(1), "vexohelp.htm");
  EXPECT_STREQ(CMainFrame::HelpFileName(2), "vexohelp_chs.htm");
  EXPECT_STREQ(CMainFrame::HelpFileName(3), "vexohelp_cht.htm");
  FrameContext context = Context();
  std::filesystem::path opened;
  context.openHelp = [&](const std::filesystem::path& page) {
    opened = page;
    return true;
  };
  settings.effectiveLanguage = 3;
  CMainFrame frame(context);
  frame.RunCommand(ID_HELP);
  EXPECT_EQ(opened.filename(), "vexohelp_cht.htm");
  EXPECT_TRUE(std::filesystem::exists(opened));

  context.helpDirectory = home.path() / "nohelp";
  CMainFrame lost(context);
  opened.clear();
  lost.RunCommand(ID_HELP);
  EXPECT_TRUE(opened.empty());
}

}  // namespace
}  // namespace vexo::ui

namespace vexo::ui {
namespace {

// Saves pictures of the main window in each language, the status window and
// the error dialog into $VEXO_SCREENSHOTS (scripts/screenshots sets it).
TEST_F(FrameTest, Screenshots) {
  const char* dir = std::getenv("VEXO_SCREENSHOTS");
  if (!dir) GTEST_SKIP() << "VEXO_SCREENSHOTS is not set";
  std::filesystem::create_directories(dir);
  const std::string out(dir);
  for (const char* table : {"EngRes", "ChsRes", "ChtRes"}) {
    ASSERT_TRUE(LoadResDll(table));
    auto frame = MakeFrame();
    frame->show();
    Select(frame->List(), "carol");
    QTest::qWait(200);
    EXPECT_TRUE(frame->grab().save(QString::fromStdString(out + "/main_" + table + ".png")));
  }
  LoadResDll("EngRes");
  auto frame = MakeFrame();
  frame->show();
  job.StartJob(kReceiveJob);
  job.SetStatusString(65069);
  frame->Status().setWindowTitle(StatusWindow::TitleFor(JobMode::Receive, "COM1:"));
  frame->Status().show();
  QTest::qWait(200);
  EXPECT_TRUE(frame->Status().grab().save(QString::fromStdString(out + "/status.png")));
  job.EndJob();
  frame->Status().hide();
  ErrorDialog error(
      QStringLiteral("MsgID = 0, MessageType = Error\r\nModule = DBFunc\r\n"
                     "Function = db.Open\r\nMessage = Fail to open Database "
                     "[VXORecv], ErrMsg = disk I/O error\r\n-------------------\r\n"));
  error.show();
  QTest::qWait(200);
  EXPECT_TRUE(error.grab().save(QString::fromStdString(out + "/error_dialog.png")));
}

}  // namespace
}  // namespace vexo::ui
