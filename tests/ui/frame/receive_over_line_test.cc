// A receive started from the main window's menu over the line simulator with
// a call-in: the status window shows the job's texts as it runs, the record is
// filed and joins the Inbox shown at once, and the outcome message follows.
// A fax queued in the outbox goes out from the window once it is due.
#include <gtest/gtest.h>
#include <QAction>
#include <QSet>

#include <filesystem>

#include "app/jobs/app_oper.h"
#include "app/jobs/outbox.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "tests/sim/app_harness.h"
#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/status_window.h"
#include "ui/frame/desktop_context.h"
#include "ui/frame/fax_list_view.h"
#include "ui/frame/main_frame.h"

namespace vexo::ui {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFarId = "+1 555 9999";

TEST(ReceiveOverLineTest, TheMenuReceivesACallInWithLiveStatusAndTheInboxGainsIt) {
  vexo::test::TempDir home, noLines, work;
  vexo::test::ConfigureHome(home.path(), [](AppSettings& s) { s.OpenedDatabase = FOLDER_INBOX; });
  const fs::path in = work.path() / "in.tif";
  ASSERT_TRUE(vexo::test::WriteFaxTiff(in, {vexo::test::MakeTestPage(5, 120)}));
  vexo::test::Linesim sim({"--speed", "2", "--far-id", kFarId, "--call-in", in.string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  vexo::test::BoxRecorder boxes;
  auto app =
      vexo::test::StartSimApp(vexo::test::SimAppOptions(home.path(), sim.Pty(1), noLines.path()));
  ASSERT_TRUE(app->Started());
  DesktopStore store(*app);
  CMainFrame frame(DesktopFrameContext(*app, store));
  app->SetFiledCallback(
      [&frame](int folder, const FaxRecord& record) { frame.RecordFiled(folder, record); });
  frame.ShowInitialFolder();
  ASSERT_EQ(frame.List().topLevelItemCount(), 0);
  frame.Action(ID_RECEIVE)->trigger();
  EXPECT_TRUE(frame.Status().Busy());
  QSet<QString> shown;
  const bool ended = test::WaitFor(
      [&] {
        shown.insert(frame.Status().StatusText());
        return !frame.Status().Busy();
      },
      180000);
  app->SetFiledCallback(nullptr);
  ASSERT_TRUE(ended) << "the receive did not end";
  const QString texts = shown.values().join(" | ");
  EXPECT_TRUE(texts.contains("Waiting for a call")) << texts.toStdString();
  EXPECT_TRUE(texts.contains("Receiving page 1")) << texts.toStdString();
  ASSERT_EQ(frame.List().topLevelItemCount(), 1) << "the Inbox shown gains the record at once";
  EXPECT_EQ(frame.List().topLevelItem(0)->text(1).toStdString(), kFarId);
  EXPECT_EQ(boxes.boxes, std::vector<std::string>{LoadResString(str::kReceived)});
  EXPECT_TRUE(boxes.details.empty());
}

TEST(ReceiveOverLineTest, TheWindowSendsAQueuedFaxThatIsDueAndFilesItInSent) {
  vexo::test::TempDir home, noLines, work;
  vexo::test::ConfigureHome(home.path(), [](AppSettings& s) { s.OpenedDatabase = FOLDER_SENDING; });
  const fs::path fax = work.path() / "fax.tif";
  ASSERT_TRUE(vexo::test::WriteFaxTiff(fax, {vexo::test::MakeTestPage(1, 120)}));
  vexo::test::Linesim sim({"--speed", "2"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  vexo::test::BoxRecorder boxes;
  auto app =
      vexo::test::StartSimApp(vexo::test::SimAppOptions(home.path(), sim.Pty(1), noLines.path()));
  ASSERT_TRUE(app->Started());
  DesktopStore store(*app);
  ASSERT_NE(store.GetOutbox()->Add({{fax.string()}, "5551234", "Ann", "", false, {}}), 0u);
  CMainFrame frame(DesktopFrameContext(*app, store));
  frame.ShowInitialFolder();
  ASSERT_EQ(frame.List().topLevelItemCount(), 1);
  frame.CheckOutbox();
  EXPECT_TRUE(frame.Status().Busy());
  ASSERT_TRUE(test::WaitFor([&] { return !frame.Status().Busy(); }, 180000));
  EXPECT_EQ(frame.List().topLevelItemCount(), 0) << "the Sending folder shown lost it";
  EXPECT_EQ(vexo::test::FiledRecords(home.path(), FOLDER_SENT).size(), 1u);
  EXPECT_EQ(frame.Status().Note(), "Queued faxes: 1 sent, 0 failed.");
  EXPECT_TRUE(boxes.boxes.empty()) << "no message box for calls nobody asked for";
}

}  // namespace
}  // namespace vexo::ui
