// Automatic answering in the main window over the line simulator, on a
// private session bus with a notification service of the test's own: two calls
// come in one after the other while the folders are browsed and the first fax
// is viewed from its notice; both are filed and announced without a message
// box, and the settings sheet takes the modem from the next wait and turns
// answering off there.
#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDialog>
#include <QSpinBox>
#include <QVariantMap>

#include <filesystem>

#include "app/jobs/app_oper.h"
#include "app/jobs/outbox.h"
#include "base/string_ids.h"
#include "tests/sim/app_harness.h"
#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"
#include "ui/frame/auto_answer.h"
#include "ui/frame/desktop_context.h"
#include "ui/frame/fax_list_view.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/tray_status.h"

namespace vexo::ui {
namespace {

namespace fs = std::filesystem;

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kName = QStringLiteral("org.freedesktop.Notifications");

// The desktop's notification service, on a connection of its own.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  bool Register() {
    return m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots) &&
           m_bus.registerService(kName);
  }
  void Click(uint id) {
    m_bus.send(QDBusMessage::createSignal(kPath, kName, QStringLiteral("ActionInvoked"))
               << id << QStringLiteral("default"));
  }
  QStringList notices;  // app name | summary | body | actions

 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    notices << QStringList{app, summary, body, actions.join(',')}.join('|');
    return static_cast<uint>(notices.size());
  }

 private:
  QDBusConnection m_bus =
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notices"));
};

TEST(AutoAnswerTest, TwoCallsAreFiledAndAnnouncedWhileTheWindowIsUsed) {
  FakeNotifications service;
  if (!service.Register()) GTEST_SKIP() << "needs a private session bus (dbus-run-session)";
  vexo::test::TempDir home, noLines, work;
  vexo::test::ConfigureHome(home.path(), [](AppSettings& s) {
    s.OpenedDatabase = FOLDER_INBOX;
    s.AutoAnswer = 1;
  });
  const fs::path in = work.path() / "in.tif";
  ASSERT_TRUE(vexo::test::WriteFaxTiff(in, {vexo::test::MakeTestPage(5, 120)}));
  vexo::test::Linesim sim({"--speed", "2", "--far-id", "+1 555 9999", "--call-in", in.string(),
                           "--call-in-repeat", "2"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  vexo::test::BoxRecorder boxes;
  auto app =
      vexo::test::StartSimApp(vexo::test::SimAppOptions(home.path(), sim.Pty(1), noLines.path()));
  DesktopStore store(*app);
  CMainFrame frame(DesktopFrameContext(*app, store));
  app->SetFiledCallback(
      [&frame](int folder, const FaxRecord& record) { frame.RecordFiled(folder, record); });
  frame.ShowInitialFolder();
  frame.ApplyAutoAnswer();
  ASSERT_TRUE(test::WaitFor([&] { return frame.Status().Busy(); })) << "waiting from the start";
  frame.List().SwitchFolder(FOLDER_SENT, false);

  QStringList viewed;
  test::ModalHandler modal([&](QWidget* window) {
    if (auto* rings = window->findChild<QSpinBox*>(QStringLiteral("AutoAnswer"))) {
      rings->setValue(0);
      qobject_cast<QDialog*>(window)->accept();
      return;
    }
    // The viewer stays open while the second call comes in and is filed.
    viewed << window->metaObject()->className();
    test::WaitFor([&] { return service.notices.size() == 2; }, 180000);
    test::Screenshot(&frame, QStringLiteral("auto_answer_pane"));
  });
  ASSERT_TRUE(test::WaitFor([&] { return service.notices.size() == 1; }, 180000));
  service.Click(1);
  ASSERT_TRUE(
      test::WaitFor([&] { return viewed.size() == 1 && service.notices.size() == 2; }, 180000));
  const QString notice =
      QStringLiteral("vexofax|New fax|1 page(s) from +1 555 9999|default,New fax");
  EXPECT_EQ(service.notices, QStringList({notice, notice}));
  EXPECT_EQ(viewed, QStringList{"vexo::ui::CTiffEditor"});
  EXPECT_EQ(vexo::test::FiledRecords(home.path(), FOLDER_INBOX).size(), 2u);
  ASSERT_TRUE(test::WaitFor([&] { return frame.Status().Busy(); }, 30000)) << "waiting again";
  EXPECT_EQ(frame.Status().Note(), ResString(str::kReceived));
  EXPECT_TRUE(frame.Tray().ToolTip().contains(ResFormat(str::kTrayNewFaxes, 1)))
      << frame.Tray().ToolTip().toStdString();

  frame.Action(ID_SETTINGS)->trigger();
  ASSERT_TRUE(test::WaitFor([&] { return modal.shown == 2 && !frame.Status().Busy(); }, 30000));
  EXPECT_EQ(app->Settings().AutoAnswer, 0u);
  EXPECT_TRUE(boxes.boxes.empty())
      << "no message box for calls nobody asked for: " << boxes.boxes.front();
  frame.List().SwitchFolder(FOLDER_INBOX, false);
  EXPECT_EQ(frame.List().topLevelItemCount(), 2);
  app->SetFiledCallback(nullptr);
}

// A queued fax falling due while the modem waits for calls takes the modem
// from the wait; its last call finding the line busy is announced like a new
// fax, the Sending folder shows it failed, and waiting resumes.
TEST(AutoAnswerTest, AQueuedFaxTakesTheModemFromTheWaitAndItsFailureIsAnnounced) {
  FakeNotifications service;
  if (!service.Register()) GTEST_SKIP() << "needs a private session bus (dbus-run-session)";
  vexo::test::TempDir home, noLines, work;
  vexo::test::ConfigureHome(home.path(), [](AppSettings& s) {
    s.OpenedDatabase = FOLDER_SENDING;
    s.AutoAnswer = 1;
  });
  const fs::path fax = work.path() / "fax.tif";
  ASSERT_TRUE(vexo::test::WriteFaxTiff(fax, {vexo::test::MakeTestPage(1, 120)}));
  vexo::test::Linesim sim({"--speed", "2", "--busy"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  vexo::test::BoxRecorder boxes;
  auto app =
      vexo::test::StartSimApp(vexo::test::SimAppOptions(home.path(), sim.Pty(1), noLines.path()));
  app->Settings().MaxTries = 1;
  DesktopStore store(*app);
  CMainFrame frame(DesktopFrameContext(*app, store));
  frame.ShowInitialFolder();
  frame.ApplyAutoAnswer();
  ASSERT_TRUE(test::WaitFor([&] { return frame.Answering().OwnsJob(); })) << "waiting at first";
  ASSERT_NE(store.GetOutbox()->Add({{fax.string()}, "5551234", "Ann", "", false, {}}), 0u);
  frame.CheckOutbox();
  ASSERT_TRUE(test::WaitFor([&] { return service.notices.size() == 1; }, 180000));
  EXPECT_EQ(service.notices[0],
            "vexofax|Fax not sent|The fax to Ann (5551234) could not be sent (calls made: 1). It "
            "stays in the Sending folder, marked as failed.|default,Fax not sent");
  ASSERT_TRUE(test::WaitFor([&] { return frame.Answering().OwnsJob(); }, 30000)) << "waiting again";
  EXPECT_EQ(frame.Status().Note(), "Queued faxes: 0 sent, 1 failed.");
  EXPECT_EQ(frame.List().topLevelItem(0)->text(4), "Failed");
  EXPECT_TRUE(frame.Tray().ToolTip().endsWith("\n1 fax(es) not sent"));
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front();
}

// A send takes the modem from a wait without a call at once, but never cuts a
// call off: it follows it. Waiting resumes once the send has ended, and once
// a send of another program gave back the modem lent to it.
TEST(ModemClaimTest, ASendEndsAWaitWithoutACallAndFollowsACall) {
  for (const bool call : {false, true}) {
    bool running = false, cancelled = false;
    bool lent = false;
    int waits = 0, sends = 0, lentChecks = 0;
    const auto startWait = [&](unsigned) { return ++waits > 0 && (running = true); };
    const auto startSend = [&] { running = ++sends > 0; };
    AutoAnswer answer({startWait, [&] { return running; }, [&] { return !call; },
                       [&] { cancelled = true; }, [&] { return ++lentChecks > 0 && lent; }});
    answer.SetRings(2);
    ASSERT_TRUE(test::WaitFor([&] { return waits == 1; }));
    EXPECT_EQ(answer.ClaimModem(startSend), call ? ModemClaim::AfterCall : ModemClaim::AfterWait);
    EXPECT_EQ(cancelled, !call);
    running = false;
    answer.JobEnded(false);  // the wait or the call
    EXPECT_EQ(sends, 1);
    running = false;
    lent = true;             // meanwhile another program's send borrowed the modem
    answer.JobEnded(false);  // the send
    const int checked = lentChecks;
    ASSERT_TRUE(test::WaitFor([&] { return lentChecks >= checked + 2; }));
    EXPECT_EQ(waits, 1) << "no wait while the modem is lent";
    lent = false;
    EXPECT_TRUE(test::WaitFor([&] { return waits == 2; })) << "waiting resumes after the send";
  }
}

}  // namespace
}  // namespace vexo::ui

#include "auto_answer_test.moc"
