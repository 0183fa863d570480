// The Qt presenter, the error dialog, the status window and the outcome
// messages, driven through real windows answered like a user would.
#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <future>
#include <thread>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/presenter.h"
#include "base/strings.h"
#include "tests/ui/common/modal_answerer.h"
#include "ui/common/outcome_messages.h"
#include "ui/common/qt_presenter.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

using test::ModalAnswerer;

template <typename Ready>
bool WaitFor(Ready ready, int ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!ready()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class UiCommonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadResDll("EngRes"));
    ErrorPool::Instance().Clear();
  }
  void TearDown() override { ErrorPool::Instance().Clear(); }
  ScopedQtPresenter presenter;
};

TEST_F(UiCommonTest, MessageBoxFromJobThreadIsShownOnGuiThreadAndAnswered) {
  ModalAnswerer answerer(QMessageBox::Yes);
  auto answer = std::async(std::launch::async, [] {
    return CurrentPresenter().MessageBox("Keep going?", std::nullopt, MB_YESNO | MB_ICONQUESTION);
  });
  ASSERT_TRUE(WaitFor(
      [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(answer.get(), IDYES);
  ASSERT_EQ(answerer.boxes, QStringList{"Keep going?"});
  EXPECT_TRUE(answerer.shownOnGuiThread);

  answerer.SetAnswer(QMessageBox::Cancel);
  EXPECT_EQ(CurrentPresenter().MessageBox("Go?", std::string("Title"), MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(answerer.captions.last(), "Title");
}

TEST_F(UiCommonTest, ShowMessageCaptionFollowsIcon) {
  ModalAnswerer answerer;
  ShowMessage(MB_ICONSTOP, nullptr, 65093);
  ShowMessage(MB_ICONEXCLAMATION, nullptr, 65093);
  ASSERT_EQ(answerer.captions.size(), 2);
  EXPECT_EQ(answerer.captions[0], "ERROR");
  EXPECT_EQ(answerer.captions[1], "WARNING");
  EXPECT_EQ(answerer.boxes[0], ResString(65093));
}

TEST_F(UiCommonTest, FlushShowsErrorDialogWithRecordsAndEmptiesPool) {
  ModalAnswerer answerer;
  ReportError(0, kMsgDefault, "Kernel", "OpenPort", "port %d busy", 3);
  ReportError(0, kMsgLogOnly, "Kernel", "Log", "only in the log");
  FlushErrorPool(nullptr, false);
  ASSERT_EQ(answerer.dialogTexts.size(), 1);
  EXPECT_TRUE(answerer.dialogTexts[0].contains("OpenPort"));
  EXPECT_TRUE(answerer.dialogTexts[0].contains("port 3 busy"));
  EXPECT_FALSE(answerer.dialogTexts[0].contains("only in the log"));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

TEST_F(UiCommonTest, ReceiveOutcomesOfferDetailsOnlyWhenAsked) {
  ModalAnswerer answerer(QMessageBox::No);
  ReportError(0, kMsgDefault, "Kernel", "ReceiveFax", "carrier lost");
  ShowReceiveOutcome(-1, nullptr);
  EXPECT_EQ(answerer.boxes, QStringList{ResString(65102)});
  EXPECT_TRUE(answerer.dialogTexts.isEmpty());
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);

  answerer.SetAnswer(QMessageBox::Yes);
  ReportError(0, kMsgDefault, "Kernel", "ReceiveFax", "page 2 bad");
  ShowReceiveOutcome(1, nullptr);
  EXPECT_EQ(answerer.boxes.last(), ResString(65103));
  ASSERT_EQ(answerer.dialogTexts.size(), 1);
  EXPECT_TRUE(answerer.dialogTexts[0].contains("page 2 bad"));

  ShowReceiveOutcome(1, nullptr);  // nothing reported: no question
  EXPECT_EQ(answerer.boxes.last(), ResString(65104));
  ShowReceiveOutcome(-3, nullptr);
  EXPECT_EQ(answerer.boxes.last(), ResString(65101));
  const auto shown = answerer.boxes.size();
  ShowReceiveOutcome(7, nullptr);
  EXPECT_EQ(answerer.boxes.size(), shown);
}

TEST_F(UiCommonTest, SendOutcomeOnEveryModemRouteOffersTheModem) {
  ModalAnswerer answerer(QMessageBox::Yes);
  EXPECT_TRUE(ShowSendOutcome(0, SendRoute::EveryModem, "USB Modem", nullptr));
  EXPECT_EQ(answerer.boxes.last(), ResFormat(65098, QString("USB Modem")));
  EXPECT_TRUE(answerer.boxes.last().contains("USB Modem"));
  answerer.SetAnswer(QMessageBox::No);
  EXPECT_FALSE(ShowSendOutcome(0, SendRoute::EveryModem, "USB Modem", nullptr));
  EXPECT_FALSE(ShowSendOutcome(0, SendRoute::Fixed, "", nullptr));
  EXPECT_EQ(answerer.boxes.last(), ResString(65093));
  ShowSendOutcome(-2, SendRoute::EveryModem, "", nullptr);
  EXPECT_EQ(answerer.boxes.last(), ResFormat(65094, AutoModemName()));
}

TEST_F(UiCommonTest, StatusWindowDrawsReceiveProgressAndCancels) {
  JobControl control;
  StatusWindow window(control);
  int outcome = 99;
  std::atomic<bool> receiving{false};
  JobRequest request;
  request.mode = JobMode::Receive;
  request.device = "COM1:";
  request.body = [&] {
    control.SetStatusText("Receiving", true);
    control.ShowProgress(2, 0);
    control.AddProgress(1500);
    receiving = true;
    while (!control.IsCancelled(50)) {
    }
    return -3;
  };
  request.finished = [&](int result) { outcome = result; };
  ASSERT_EQ(window.StartJobThread(std::move(request)), 1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Receive [COM1:]");
  // A second job while this one runs is not started.
  JobRequest second;
  second.body = [] { return 0; };
  EXPECT_EQ(window.StartJobThread(std::move(second)), 1);

  ASSERT_TRUE(WaitFor([&] { return receiving && window.LeftText().contains("Page(2)"); }));
  EXPECT_EQ(window.LeftText(), "Receiving Page(2) Data:");
  EXPECT_EQ(window.RightText(), "1500 Bytes");
  EXPECT_FALSE(window.ProgressShown());
  EXPECT_TRUE(window.StatusText().startsWith("Receiving"));

  window.CancelJob();
  ASSERT_TRUE(WaitFor([&] { return !window.Busy(); }));
  EXPECT_EQ(outcome, -3);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(control.State(), kNoJob);
}

TEST_F(UiCommonTest, StatusWindowDrawsSendPercentage) {
  JobControl control;
  StatusWindow window(control);
  std::promise<void> release;
  auto released = release.get_future();
  std::atomic<bool> drawn{false};
  JobRequest request;
  request.mode = JobMode::Send;
  request.device = "USB Modem";
  request.body = [&] {
    control.ShowProgress(3, 5);
    control.SetProgressPercent(40);
    drawn = true;
    released.wait();
    control.HideProgress();
    return 0;
  };
  int outcome = 99;
  request.finished = [&](int result) { outcome = result; };
  ASSERT_EQ(window.StartJobThread(std::move(request)), 1);
  EXPECT_EQ(window.windowTitle(), "Send [USB Modem]");
  ASSERT_TRUE(WaitFor([&] { return drawn && window.RightText() == "40%"; }));
  EXPECT_TRUE(window.ProgressShown());
  EXPECT_EQ(window.ProgressValue(), 40);
  EXPECT_EQ(window.LeftText(), ResFormat(65068, 3));
  release.set_value();
  ASSERT_TRUE(WaitFor([&] { return !window.Busy(); }));
  EXPECT_EQ(outcome, 0);
  EXPECT_FALSE(window.ProgressShown());
}

}  // namespace
}  // namespace vexo::ui
