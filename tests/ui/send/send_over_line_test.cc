// A fax composed in the send chain and sent for real: the recipient picked
// from an address book, a cover page, a typed text and a foreign scan, Send
// Now through the status window and the fax job over the line simulator to
// spandsp's fax terminal, which must receive every page; the call is filed in
// the Sent folder.
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>

#include "app/jobs/app_oper.h"
#include "base/string_ids.h"
#include "platform/telephony/linux_provider.h"
#include "tests/sim/sim_harness.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/send/send_test_support.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"
#include "ui/send/contact_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/send_job.h"

namespace vexo::ui::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFarId = "+1 555 9999";

using SendOverLineTest = SendTest;

TEST_F(SendOverLineTest, ComposedFaxReachesTheFarTerminalAndIsFiledAsSent) {
  vexo::test::TempDir appHome, noLines, received;
  vexo::test::Linesim sim(
      {"--far", "terminal", "--far-id", kFarId, "--far-receive", received.path().string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  AppOperOptions options;
  options.homeDirectory = appHome.path().string();
  options.deviceOverride = sim.Pty(1);
  options.makeProvider = [&](const AppSettings& s) {
    return std::make_unique<LinuxTelephonyProvider>(s.TelephonyDevices, noLines.path().string());
  };
  AppOper app(std::move(options));
  ASSERT_EQ(app.Startup(), 1) << ::testing::PrintToString(vexo::test::TakeMessages());
  app.Settings().T2TQuality = 1;  // normal resolution: half the rows on the line
  const fs::path data = app.Settings().TIFDataDir;
  DBFunc appStore(StoreOptions{appHome.path(), data});
  ASSERT_EQ(appStore.InitDatabases(), 1);
  app.SetStore(&appStore);
  StatusWindow status(app.Job());
  SendContext desktop = DesktopSendContext(app, status, &appStore);
  desktop.contactsFile =
      fs::path(VEXO_SOURCE_DIR) / "tests" / "data" / "contacts" / "outlook21.vcf";
  const fs::path scan = home.path() / "scan.tif", text = home.path() / "parts.txt";
  WriteForeignTiff(scan, 1700, 300, 200, 200);
  vexo::test::WriteFileBytes(text, "Two boxes, one crate.\n");
  ModalScript script(120000);
  script.On("SendDlg113", [](QWidget* w) { ClickLater(As<SendDlg>(w)->ContactButton()); })
      .On("ContactListDlg",
          [](QWidget* w) {
            auto* picker = As<ContactListDlg>(w);
            picker->List()->setCurrentItem(picker->List()->topLevelItem(0));  // Baker, Anne
            ClickLater(ButtonWithText(w, str::kOk));
          })
      .On("DetailListDlg",
          [](QWidget* w) {
            w->findChild<QListWidget*>()->setCurrentRow(0);  // her fax number
            ClickLater(ButtonWithText(w, str::kOk));
          })
      .On("SendDlg113", Recipient({}, {}, "plain.txt"))
      .On("CoverDetailsDlg186", Press(kNext))
      .On("CAttachDlg177", Attach({text, scan}))
      .On("SummaryDlg156", SendNow())
      .Box();  // the outcome: sent
  SendRequest request;
  ASSERT_EQ(RunSendDialogChain(nullptr, desktop, request), kResultSendNow)
      << script.windows.join(",").toStdString();
  bool pictured = false;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (!pictured && status.ProgressShown())
          pictured = Screenshot(&status, "status_window_sending");
        return !status.Busy();
      },
      120000))
      << sim.Stderr();
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  EXPECT_EQ(script.boxes, QStringList{ResString(str::kSent)})
      << ::testing::PrintToString(vexo::test::TakeMessages());
  const std::string report = sim.Report(std::chrono::seconds(20));
  EXPECT_NE(report.find("completed, 3 pages"), std::string::npos) << report;  // cover, text, scan
  const std::vector<FaxRecord> sent = RecordsOf(appStore, 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tie(sent[0].contact, sent[0].telephone, sent[0].remoteStationId),
            std::make_tuple("Anne Baker", "555 0101", kFarId));
  EXPECT_EQ(std::tie(sent[0].status, sent[0].pages), std::make_tuple(1, 3));
  ASSERT_TRUE(sent[0].fileName);
  EXPECT_TRUE(fs::exists(data / *sent[0].fileName));  // the sent fax stays with its record
}

}  // namespace
}  // namespace vexo::ui::test
