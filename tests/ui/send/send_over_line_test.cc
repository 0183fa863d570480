// A fax composed in the send chain and sent for real: the recipient picked
// from an address book, a cover page, a typed text and a foreign scan
// converted, Send Now through the status window and the fax job over the line
// simulator to spandsp's fax terminal, which must receive the cover page and
// every attachment page; the call is filed in the Sent folder.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/jobs/app_oper.h"
#include "base/error_pool.h"
#include "platform/telephony/linux_provider.h"
#include "tests/sim/sim_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/send/send_test_support.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/contact_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/send_job.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFarId = "+1 555 9999";

QAbstractButton* OkButton(QWidget* window) {
  for (auto* button : window->findChildren<QAbstractButton*>())
    if (button->text() == ResString(65518)) return button;
  ADD_FAILURE() << "no OK in " << window->objectName().toStdString();
  return nullptr;
}

class SendOverLineTest : public SendTest {
 protected:
  std::unique_ptr<AppOper> Start(const std::string& device) {
    AppOperOptions options;
    options.homeDirectory = appHome.path().string();
    options.deviceOverride = device;
    options.makeProvider = [this](const AppSettings& s) {
      return std::make_unique<LinuxTelephonyProvider>(s.TelephonyDevices, noLines.path().string());
    };
    auto app = std::make_unique<AppOper>(std::move(options));
    EXPECT_EQ(app->Startup(), 1) << ::testing::PrintToString(vexo::test::PoolMessages());
    return app;
  }

  vexo::test::TempDir appHome, noLines, received;
};

TEST_F(SendOverLineTest, ComposedFaxReachesTheFarTerminalAndIsFiledAsSent) {
  vexo::test::Linesim sim(
      {"--far", "terminal", "--far-id", kFarId, "--far-receive", received.path().string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  auto app = Start(sim.Pty(1));
  ASSERT_TRUE(app->Started());
  app->Settings().T2TQuality = 1;  // normal resolution: half the rows on the line
  const fs::path data = app->Settings().TIFDataDir;
  DBFunc appStore(StoreOptions{appHome.path(), data});
  ASSERT_EQ(appStore.InitDatabases(), 1);
  app->SetStore(&appStore);
  StatusWindow status(app->Job());
  SendContext desktop = DesktopSendContext(*app, status, &appStore);
  desktop.contactsFile =
      fs::path(VEXO_SOURCE_DIR) / "tests" / "data" / "contacts" / "outlook21.vcf";

  const fs::path scan = home.path() / "scan.tif";
  WriteForeignTiff(scan, 1700, 300, 200);
  const fs::path text = home.path() / "parts.txt";
  vexo::test::WriteFileBytes(text, "Two boxes, one crate.\n");

  ModalScript script(120000);
  script.On("SendDlg113", [](QWidget* w) { ClickLater(static_cast<SendDlg*>(w)->ContactButton()); })
      .On("ContactListDlg",
          [](QWidget* w) {
            auto* picker = static_cast<ContactListDlg*>(w);
            picker->List()->setCurrentItem(picker->List()->topLevelItem(0));  // Baker, Anne
            ClickLater(OkButton(w));
          })
      .On("DetailListDlg",
          [](QWidget* w) {
            w->findChild<QListWidget*>()->setCurrentRow(0);  // her fax number
            ClickLater(OkButton(w));
          })
      .On("SendDlg113",
          [](QWidget* w) {
            auto* dialog = static_cast<SendDlg*>(w);
            dialog->CoverCombo()->setCurrentText("plain.txt");
            ClickLater(dialog->NextButton());
          })
      .On("CoverDetailsDlg186",
          [](QWidget* w) { ClickLater(static_cast<CoverDetailsDlg*>(w)->NextButton()); })
      .On("CAttachDlg177",
          [&](QWidget* w) {
            auto* dialog = static_cast<CAttachDlg*>(w);
            dialog->SetAskFiles([&] {
              return QStringList{QString::fromStdString(text.string()),
                                 QString::fromStdString(scan.string())};
            });
            dialog->AddButton()->click();
            ClickLater(dialog->NextButton());
          })
      .On("SummaryDlg156",
          [](QWidget* w) { ClickLater(static_cast<SummaryDlg*>(w)->SendNowButton()); })
      .Box();  // the outcome: sent
  SendRequest request;
  ASSERT_EQ(RunSendDialogChain(nullptr, desktop, request), kResultSendNow)
      << script.windows.join(",").toStdString();
  EXPECT_TRUE(status.Busy());
  EXPECT_EQ(status.windowTitle(), "Send [COM1:]");

  bool pictured = false;
  QElapsedTimer clock;
  clock.start();
  while (status.Busy() && clock.elapsed() < 120000) {
    if (!pictured && status.ProgressShown()) {
      Screenshot(&status, "status_window_sending");
      pictured = true;
    }
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_FALSE(status.Busy()) << sim.Stderr();
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  EXPECT_EQ(script.boxes, QStringList{ResString(65093)})
      << ::testing::PrintToString(vexo::test::PoolMessages());

  const auto report = sim.WaitForReport(std::chrono::seconds(20));
  ASSERT_TRUE(report) << sim.Stderr();
  EXPECT_NE(report->find("completed, 3 pages"), std::string::npos) << *report;
  std::vector<fs::path> faxes;
  for (const auto& entry : fs::directory_iterator(received.path())) faxes.push_back(entry.path());
  ASSERT_EQ(faxes.size(), 1u);
  EXPECT_EQ(ReadFaxPages(faxes[0]).size(), 3u);  // cover page, text, scan

  RecordIds sink;
  ASSERT_EQ(appStore.ListFolder(sink, FolderType(0), 0, kSortAscending), 1);
  ASSERT_EQ(sink.ids.size(), 1u);
  FaxRecord record;
  ASSERT_EQ(appStore.ReadRecord(sink.ids[0], record), 1);
  EXPECT_EQ(record.status, 1);
  EXPECT_EQ(record.contact, "Anne Baker");
  EXPECT_EQ(record.telephone, "555 0101");
  EXPECT_EQ(record.remoteStationId, kFarId);
  EXPECT_EQ(record.pages, 3);
  ASSERT_TRUE(record.fileName);
  EXPECT_EQ(record.fileName->substr(0, 2), "QX");
  EXPECT_TRUE(fs::exists(data / *record.fileName));  // the sent fax stays with its record
}

TEST_F(SendOverLineTest, SendWhileAJobRunsStartsNothingAndKeepsTheFax) {
  AppOperOptions options;
  options.homeDirectory = appHome.path().string();
  AppOper app(std::move(options));
  StatusWindow status(app.Job());
  std::atomic<bool> release{false};
  JobRequest receive;
  receive.mode = JobMode::Receive;
  receive.device = "COM1:";
  receive.body = [&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 0;
  };
  ASSERT_EQ(status.StartJobThread(std::move(receive)), 1);
  SendFields fields;
  fields.generatedFile = (home.path() / "QXAAAAAB.tif").string();
  fields.number = "555";
  ModalScript script;
  script.Box();
  EXPECT_EQ(StartSendJob(app, status, fields), 0);
  EXPECT_EQ(script.boxes, QStringList{ResString(65089)});
  EXPECT_EQ(status.Mode(), JobMode::Receive);
  EXPECT_TRUE(app.Inputs().file.empty());
  release = true;
  QElapsedTimer clock;
  clock.start();
  while (status.Busy() && clock.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(status.Busy());
}

}  // namespace
}  // namespace vexo::ui::test
