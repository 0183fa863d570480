// The main window over a real home: a SQLite record store with faxes in every
// folder, real fax files in the data folder, the relist socket.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "app/jobs/app_oper.h"
#include "app/jobs/list_refresh.h"
#include "app/jobs/outbox.h"
#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/error_dialog.h"
#include "ui/common/qt_presenter.h"
#include "ui/common/status_window.h"
#include "ui/frame/fax_info_view.h"
#include "ui/frame/fax_list_view.h"
#include "ui/frame/folder_tree.h"
#include "ui/frame/instance_server.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/outbox_queue.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui {
namespace {

using test::ModalAnswerer;
using test::WaitFor;
using vexo::test::TempDir;

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
    for (int row = 0; row < list.topLevelItemCount(); ++row)
      texts << list.topLevelItem(row)->text(column);
    return texts;
  }

  static void Select(CFaxListView& list, const QString& contact) {
    list.clearSelection();
    for (int row = 0; row < list.topLevelItemCount(); ++row)
      list.topLevelItem(row)->setSelected(list.topLevelItem(row)->text(1) == contact);
  }

  TempDir home;
  std::string dataDir;
  AppSettings settings;
  JobControl job;
  std::unique_ptr<DBFunc> store;
  std::uint64_t base = 0;
  ScopedQtPresenter presenter;
};

// The folder and the order the settings name; a column click sorts on it
// keeping the direction, a second reverses, with the arrow on that column;
// the listing state goes back into the settings when the list goes.
TEST_F(FrameTest, ListsAsTheSettingsSayAndColumnClicksResort) {
  settings.SortDirection = 1;
  auto frame = MakeFrame();
  EXPECT_EQ(frame->Tree().CurrentFolder(), FOLDER_INBOX);
  CFaxListView& list = frame->List();
  EXPECT_EQ(Column(list, 1), QStringList({"carol", "bob", "Able"}));  // case-insensitive
  EXPECT_FALSE(frame->Info().HasRecord());
  Select(list, "carol");
  const QStringList lines = frame->Info().Lines();
  ASSERT_EQ(lines.size(), 8);
  EXPECT_EQ(lines[0], "carol");
  EXPECT_EQ(lines[2], "Remote ID: +1 555 carol");
  EXPECT_EQ(lines[5], "Pages: 2");
  EXPECT_EQ(lines[6], "Resolution: Fine");
  EXPECT_EQ(lines[7], "Size: 4.8K");  // 5000 bytes: 4 K and 904 / 103

  list.SortByColumn(3);  // dates, still descending
  EXPECT_EQ(Column(list, 1), QStringList({"Able", "bob", "carol"}));
  EXPECT_TRUE(list.headerItem()->icon(1).isNull());
  EXPECT_FALSE(list.headerItem()->icon(3).isNull());
  list.SortByColumn(3);
  EXPECT_EQ(Column(list, 1), QStringList({"carol", "bob", "Able"}));
  list.SortByColumn(0);  // the status column only takes the focus
  EXPECT_EQ(list.SortColumn(), 3);
  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_SENT));
  EXPECT_EQ(Column(list, 1), QStringList({"alice", "Bert"}));
  list.SortByColumn(2);
  EXPECT_EQ(Column(list, 2), QStringList({"555-0101", "555-0300"}));
  frame.reset();
  EXPECT_EQ(settings.OpenedDatabase, static_cast<std::uint32_t>(FOLDER_SENT));
  EXPECT_EQ(settings.SortOnColumn, 2u);
  EXPECT_EQ(settings.SortDirection, 0u);
  // Out of range: contact, ascending.
  settings.OpenedDatabase = FOLDER_INBOX;
  settings.SortOnColumn = 7;
  settings.SortDirection = 5;
  EXPECT_EQ(Column(MakeFrame()->List(), 1), QStringList({"Able", "bob", "carol"}));
}

TEST_F(FrameTest, DeleteMovesToDeletedAndInDeletedRemovesForGood) {
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
  // In Deleted the record and its file go for good.
  frame->Tree().setCurrentItem(frame->Tree().topLevelItem(FOLDER_DELETED));
  EXPECT_EQ(Column(list, 1), QStringList({"bob", "dave"}));
  ModalAnswerer answer(QMessageBox::Yes);
  Select(list, "bob");
  list.RunCommand(ID_FAX_DELETE);
  EXPECT_EQ(Column(list, 1), QStringList({"dave"}));
  EXPECT_EQ(frame->Info().Lines().value(0), "dave");
  EXPECT_FALSE(std::filesystem::exists(dataDir + "QXAAAAAE.tif"));
  Select(list, "dave");
  list.RunCommand(ID_FAX_DELETE);
  EXPECT_EQ(list.topLevelItemCount(), 0);
  EXPECT_FALSE(frame->Info().HasRecord());
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

// The Sending folder shows each queued fax's next try, tries and last result
// (nothing for a record moved there by hand); its menu makes a fax given up
// due now with its tries counted anew, reschedules one, and cancels one into
// Deleted.
TEST_F(FrameTest, TheSendingFolderShowsTheQueueAndItsMenuSchedulesAndCancels) {
  constexpr std::int64_t kLater = 2'000'000'040;  // a whole minute in 2033
  const auto queue = [this](const std::string& contact, const OutboxState& state) {
    FaxRecord record;
    record.contact = contact;
    record.telephone = "555-0500";
    record.fileName = "QXAAAAAA.tif";
    record.date = LocalFileTimeNow();
    record.status = 1;
    EXPECT_EQ(store->AddQueued(record, state), 1);
    return record.oid;
  };
  const CEOID erin =
      queue("erin", {kLater, 3, -1, 0, false, OutboxStatus::kFailed, OutboxOutcome::kBusy});
  const CEOID fred = queue(
      "fred", {kLater, 1, 1, 0x10002, false, OutboxStatus::kWaiting, OutboxOutcome::kLineDropped});
  File(FOLDER_SENDING, "gus", "555-0600", 1, "QXAAAAAB.tif", 1, 0);
  AppOper app;
  Outbox outbox(app, *store);
  FrameContext context = Context();
  context.job = nullptr;  // no status pane: the outbox makes no calls here
  context.outbox = [&outbox] { return &outbox; };
  settings.OpenedDatabase = FOLDER_SENDING;
  CMainFrame frame(context);
  frame.ShowInitialFolder();
  frame.show();
  CFaxListView& list = frame.List();
  const QString later = QDateTime::fromSecsSinceEpoch(kLater).toString("yyyy-M-d H:m");
  EXPECT_EQ(Column(list, 1), QStringList({"erin", "fred", "gus"}));
  EXPECT_EQ(Column(list, 4), QStringList({"Failed", later, ""}));
  EXPECT_EQ(Column(list, 5), QStringList({"3", "1", ""}));
  EXPECT_EQ(Column(list, 6), QStringList({"Busy", "Line dropped on page 2", ""}));
  test::Screenshot(&frame, "main_sending");

  Select(list, "erin");
  const std::int64_t before = OutboxSecondsNow();
  list.RunCommand(ID_FAX_SEND_NOW);
  QueuedFax fax;
  ASSERT_EQ(store->ReadQueued(erin, fax), 1);
  EXPECT_EQ(fax.state->status, OutboxStatus::kWaiting);
  EXPECT_GE(fax.state->nextTry, before);
  EXPECT_LE(fax.state->nextTry, OutboxSecondsNow());
  EXPECT_EQ(fax.state->tries, 0);
  EXPECT_NE(Column(list, 4)[0], "Failed");
  Select(list, "gus");
  test::ModalHandler handler([](QWidget* dialog) {
    dialog->findChild<QDateTimeEdit*>()->setDateTime(QDateTime::fromSecsSinceEpoch(kLater));
    qobject_cast<QDialog*>(dialog)->accept();
  });
  list.RunCommand(ID_FAX_RESCHEDULE);
  EXPECT_EQ(handler.shown, 1);
  EXPECT_EQ(Column(list, 4)[2], later) << "a record moved in by hand joins the queue";

  Select(list, "fred");
  list.RunCommand(ID_FAX_CANCEL_QUEUED);
  EXPECT_EQ(Column(list, 1), QStringList({"erin", "gus"}));
  EXPECT_EQ(store->FindRecordFolder(fred), -1);
  frame.Tree().setCurrentItem(frame.Tree().topLevelItem(FOLDER_DELETED));
  EXPECT_EQ(Column(list, 1), QStringList({"dave", "fred"}));
  EXPECT_EQ(list.columnCount(), 4);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
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

  int relists = 0;
  QObject::connect(&server, &InstanceServer::RefreshRequested, [&] { ++relists; });
  File(FOLDER_INBOX, "filed by vexo", "", 1, "", 1, 0);
  EXPECT_EQ(frame->List().topLevelItemCount(), 3);
  // Without the switch the running one is found and nothing else happens: the
  // two relists asked for below are the only ones (requests are served in turn).
  bool found[2] = {};
  std::thread([&] {
    found[0] = SignalRunningInstance(path, {"vexofax"});
    found[1] = SignalRunningInstance(path, {"vexofax", "-refreshlist"});
  }).join();
  EXPECT_TRUE(found[0] && found[1]);
  EXPECT_TRUE(WaitFor([&] { return frame->List().topLevelItemCount() == 4; }));
  // The vexo command's client is understood the same way.
  File(FOLDER_INBOX, "again", "", 1, "", 1, 0);
  bool asked = false;
  std::thread([&] { asked = AskRunningAppToRelist(home.dir()); }).join();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(WaitFor([&] { return frame->List().topLevelItemCount() == 5; }));
  EXPECT_EQ(relists, 2);
  EXPECT_FALSE(SignalRunningInstance(path + "-none", {"-refreshlist"}));
}

// A fax queued without a number: the start and the vexo command's line open
// the send dialog with its file attached; Cancel leaves it held, a fax the
// dialog filed takes its place (it goes to Deleted). SetNumber queues one.
TEST_F(FrameTest, AFaxHeldForANumberOpensTheSendDialogWithItsFile) {
  test::WriteForeignTiff(dataDir + "QXHELD01.tif", 1728, 100, 204, 196);
  const auto hold = [this] {
    FaxRecord record;
    record.contact = "Bob";
    record.fileName = "QXHELD01.tif";
    record.date = LocalFileTimeNow();
    OutboxState state;
    state.status = OutboxStatus::kNeedsNumber;
    EXPECT_EQ(store->AddQueued(record, state), 1);
    return record.oid;
  };
  const CEOID held = hold();
  AppOper app;
  Outbox outbox(app, *store);
  FrameContext context = Context();
  context.job = nullptr;
  context.outbox = [&outbox] { return &outbox; };
  context.newFaxFile = [this] { return dataDir + "QXSENT01.tif"; };
  QStringList attached;
  bool fileIt = false;
  test::ModalHandler handler([&](QWidget* dialog) {
    if (auto* send = qobject_cast<SendDlg*>(dialog)) {
      EXPECT_EQ(send->NameEdit()->text(), "Bob");
      send->NumberEdit()->setText("555-0700");
      send->NextButton()->click();
    } else if (auto* attach = qobject_cast<CAttachDlg*>(dialog)) {
      attached << attach->List()->item(0)->text();
      (fileIt ? attach->NextButton() : attach->CancelButton())->click();
    } else if (auto* summary = qobject_cast<SummaryDlg*>(dialog)) {
      summary->FileInto(FOLDER_SENT);
    }
  });
  CMainFrame frame(context);
  ASSERT_TRUE(WaitFor([&] { return attached.size() == 1; })) << "asked at the start";
  EXPECT_EQ(attached[0].toStdString(), dataDir + "QXHELD01.tif");
  QueuedFax fax;
  ASSERT_EQ(store->ReadQueued(held, fax), 1);
  EXPECT_TRUE(fax.NeedsNumber());

  InstanceServer server;
  QObject::connect(&server, &InstanceServer::NumberRequested, &frame, &CMainFrame::AskForNumber);
  ASSERT_TRUE(server.Listen(QString::fromStdString(ListRefreshSocketPath(home.dir()))));
  fileIt = true;
  std::thread([&] { EXPECT_TRUE(AskRunningAppForNumber(home.dir(), held)); }).join();
  ASSERT_TRUE(WaitFor([&] { return store->FindRecordFolder(held) == -1; }));
  EXPECT_EQ(attached.size(), 2);
  frame.Tree().setCurrentItem(frame.Tree().topLevelItem(FOLDER_SENT));
  EXPECT_TRUE(Column(frame.List(), 2).contains("555-0700"));
  frame.Tree().setCurrentItem(frame.Tree().topLevelItem(FOLDER_DELETED));
  EXPECT_EQ(Column(frame.List(), 1), QStringList({"Bob", "dave"}));

  const CEOID queued = outbox.SetNumber(hold(), "555-0800", "Carl");
  ASSERT_EQ(store->ReadQueued(queued, fax), 1);
  EXPECT_TRUE(fax.DueAt(OutboxSecondsNow()));
  EXPECT_EQ(std::tie(fax.record.telephone, fax.record.contact),
            std::make_tuple("555-0800", "Carl"));
  EXPECT_EQ(outbox.SetNumber(queued, "555", "Carl"), 0) << "only a held fax takes a number";
  ErrorPool::Instance().Clear();
}

// Saves pictures of the main window in each language, the status window and
// the error dialog into $VEXO_SCREENSHOTS (scripts/screenshots sets it).
TEST_F(FrameTest, Screenshots) {
  const char* dir = std::getenv("VEXO_SCREENSHOTS");
  if (!dir) GTEST_SKIP() << "VEXO_SCREENSHOTS is not set";
  std::filesystem::create_directories(dir);
  const auto save = [dir](QWidget& window, const std::string& name) {
    QTest::qWait(200);
    EXPECT_TRUE(window.grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png")));
  };
  for (const char* table : {"EngRes", "ChsRes", "ChtRes"}) {
    ASSERT_TRUE(LoadResDll(table));
    auto frame = MakeFrame();
    frame->show();
    Select(frame->List(), "carol");
    save(*frame, std::string("main_") + table);
  }
  LoadResDll("EngRes");
  auto frame = MakeFrame();
  frame->show();
  job.StartJob(kReceiveJob);
  job.SetStatusString(str::kWaitingForCall);
  frame->Status().setWindowTitle(StatusWindow::TitleFor(JobMode::Receive, "COM1:"));
  frame->Status().show();
  save(frame->Status(), "status");
  job.EndJob();
  frame->Status().hide();
  ErrorDialog error(
      QStringLiteral("MsgID = 0, MessageType = Error\r\nModule = DBFunc\r\n"
                     "Function = db.Open\r\nMessage = Fail to open Database "
                     "[VXORecv], ErrMsg = disk I/O error\r\n-------------------\r\n"));
  error.show();
  save(error, "error_dialog");
}

}  // namespace
}  // namespace vexo::ui
