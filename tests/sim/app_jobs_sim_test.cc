// Fax jobs through AppOper over the line simulator, in real time: a send and a
// busy line filed in the Sent folder, a call-in received under a new name and
// filed in the Inbox with its PDF copy, a cancel while waiting for a ring, and
// the send over every modem of the list in turn where only the third one
// answers, its notices logged once the outcome is shown.
#include <gtest/gtest.h>

#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "modem/tapi_oper.h"
#include "tests/sim/app_harness.h"
#include "tests/support/box_recorder.h"
#include "tests/support/wait_for.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class JobsSim : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    TakeMessages();
  }

  std::unique_ptr<AppOper> Start(const std::string& device) {
    return StartSimApp(SimAppOptions(home.path(), device, noLines.path()));
  }
  // A one-page fine fax in the data directory, as the send dialog leaves it.
  std::string Fax(const AppOper& app) {
    const fs::path file = fs::path(app.Settings().TIFDataDir) / "QXAAAAAA.tif";
    EXPECT_TRUE(WriteFaxTiff(file, {MakeTestPage(3, 120)}));
    return file.string();
  }
  std::vector<FaxRecord> Filed(int folder) { return FiledRecords(home.path(), folder); }

  TempDir home;
  TempDir noLines;
};

TEST_F(JobsSim, ASendIsFiledInSentWithTheCallsFacts) {
  Linesim sim({"--far", "terminal", "--far-id", kSimFarId});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  auto app = Start(sim.Pty(1));
  std::vector<int> filedFolders;
  app->SetFiledCallback([&](int folder, const FaxRecord&) { filedFolders.push_back(folder); });
  SendInputs& inputs = app->Inputs();
  inputs.file = Fax(*app);
  inputs.number = "5551234";
  inputs.recipient = "Ann Example";
  inputs.note = "one page";
  ASSERT_EQ(RunAppJob(*app, kSendJob), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(app->Job().State(), 0u);
  EXPECT_EQ(filedFolders, std::vector<int>{FOLDER_SENT});

  const auto sent = Filed(FOLDER_SENT);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].status, 1);
  EXPECT_EQ(sent[0].contact, "Ann Example");
  EXPECT_EQ(sent[0].telephone, "5551234");
  EXPECT_EQ(sent[0].remoteStationId, kSimFarId);
  EXPECT_EQ(sent[0].fileName, "QXAAAAAA.tif");
  EXPECT_EQ(sent[0].pages, 1);
  EXPECT_EQ(sent[0].resolution, 2) << "fine";
  EXPECT_EQ(sent[0].noteFlag, 1);
  EXPECT_EQ(sent[0].note, "one page");
  EXPECT_TRUE(Filed(FOLDER_INBOX).empty());
}

TEST_F(JobsSim, ABusyLineIsFiledAsFailedWithThePagesOfTheFileAndNoStaleFacts) {
  Linesim sim({"--far", "terminal", "--busy"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  auto app = Start(sim.Pty(1));
  app->Inputs().file = Fax(*app);
  app->Inputs().number = "5551234";
  ASSERT_EQ(RunAppJob(*app, kSendJob), -1);
  const auto sent = Filed(FOLDER_SENT);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].status, 0);
  EXPECT_EQ(sent[0].pages, 1);
  EXPECT_EQ(sent[0].remoteStationId, "");
}

TEST_F(JobsSim, ACallInIsReceivedUnderANewNameAndFiledWithTheSendersId) {
  const fs::path in = home.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, {MakeTestPage(5, 150)}));
  Linesim sim({"--far", "terminal", "--far-id", kSimFarId, "--call-in", in.string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  const fs::path pdfs = home.path() / "pdf";
  fs::create_directory(pdfs);
  ConfigureHome(home.path(), [&](AppSettings& s) { s.ReceivePdfDir = pdfs.string(); });
  auto app = Start(sim.Pty(1));
  ASSERT_EQ(RunAppJob(*app, kReceiveJob), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(app->JobFileName(), "QXAAAAAA.tif");
  EXPECT_EQ(app->Settings().StoredTiffAutoNumber(), 1u);
  EXPECT_EQ(ReadTiffPages(home.path() / "Data" / "QXAAAAAA.tif").size(), 1u);

  const auto inbox = Filed(FOLDER_INBOX);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_EQ(inbox[0].status, 1);
  EXPECT_EQ(inbox[0].contact, kSimFarId);
  EXPECT_EQ(inbox[0].remoteStationId, kSimFarId);
  EXPECT_EQ(inbox[0].telephone, "");
  EXPECT_EQ(inbox[0].fileName, "QXAAAAAA.tif");
  EXPECT_EQ(inbox[0].pages, 1);
  const fs::directory_iterator copy(pdfs);
  ASSERT_NE(copy, fs::directory_iterator());
  EXPECT_TRUE(copy->path().string().ends_with(std::string(" ") + kSimFarId + ".pdf"))
      << copy->path();
}

TEST_F(JobsSim, CancelWhileWaitingForARingEndsTheJobWithMinusThree) {
  Linesim sim({"--far", "terminal"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  auto app = Start(sim.Pty(1));
  int result = 0;
  JobThread thread(*app);
  ASSERT_EQ(thread.Start(kReceiveJob, [&](std::uint32_t, int r) { result = r; }), 1);
  EXPECT_EQ(thread.Start(kReceiveJob, nullptr), 0) << "one job at a time";
  EXPECT_TRUE(WaitFor(
      [&] { return app->Job().Status().text.find("Waiting for a call") != std::string::npos; },
      seconds(20)));
  app->Job().Cancel();
  thread.Join();
  EXPECT_EQ(result, kJobWaitCancelled) << ::testing::PrintToString(TakeMessages());
  EXPECT_TRUE(Filed(FOLDER_INBOX).empty());
  EXPECT_EQ(app->Settings().StoredTiffAutoNumber(), 0u) << "no name used up";
}

TEST_F(JobsSim, EveryModemInTurnSendsThroughTheThirdAndYesKeepsIt) {
  Linesim sim({"--far", "terminal", "--far-id", kSimFarId});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  const std::string line = sim.Pty(1);
  ConfigureHome(home.path(), [&](AppSettings& s) {
    s.ModemName = "Auto Retry All Modem";
    s.TelephonyDevices = (home.path() / "no-such-modem").string() + ";" + line;
  });
  auto app = Start("");
  ASSERT_EQ(app->Modems()->Modems().size(), 3u);
  ASSERT_EQ(app->CurrentModem(), kEveryModem);
  app->Inputs().file = Fax(*app);
  app->Inputs().number = "5551234";
  ASSERT_EQ(RunAppJob(*app, kSendJob), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_TRUE(app->LastSendAutoModem());
  EXPECT_EQ(app->AutoRetryIndex(), 2u);
  EXPECT_EQ(app->CurrentModem(), kEveryModem);
  const auto sent = Filed(FOLDER_SENT);
  ASSERT_EQ(sent.size(), 1u) << "filed once, not per modem";
  EXPECT_EQ(sent[0].status, 1);

  BoxRecorder presenter(IDYES);
  app->ShowOutcome(kSendJob, 0);
  ASSERT_EQ(presenter.boxes.size(), 1u);
  EXPECT_NE(presenter.boxes[0].find(line), std::string::npos) << presenter.boxes[0];
  EXPECT_EQ(app->Settings().ModemName, line);
  EXPECT_EQ(app->CurrentModem(), 2u);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0u) << "the notice of each modem tried was logged";
  AppSettings onDisk;
  onDisk.SetHomeDirectory(home.path().string());
  ASSERT_TRUE(onDisk.LoadSettings());
  EXPECT_EQ(onDisk.ModemName, line) << "kept for the next start";
}

}  // namespace
}  // namespace vexo::test
