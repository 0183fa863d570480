// The Qt presenter, the error dialog, the status window and the outcome
// messages, driven through real windows answered like a user would.
#include <gtest/gtest.h>

#include <future>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/outcome_messages.h"
#include "ui/common/qt_presenter.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

using test::ModalAnswerer;
using test::WaitFor;

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
  // Without a caption the icon chooses it.
  ShowMessage(MB_ICONSTOP, nullptr, str::kSent);
  ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kSent);
  EXPECT_EQ(answerer.captions.mid(2), (QStringList{"ERROR", "WARNING"}));
  EXPECT_EQ(answerer.boxes.last(), ResString(str::kSent));
}

TEST_F(UiCommonTest, ReceiveOutcomesOfferDetailsOnlyWhenAsked) {
  struct Case {
    int result;
    const char* reported;  // an error reported before, or none
    QMessageBox::StandardButton answer;
    unsigned box;  // 0: no box
    bool detailsShown;
  };
  const Case cases[] = {
      {-1, "carrier lost", QMessageBox::No, str::kReceiveFailed, false},
      {1, "page 2 bad", QMessageBox::Yes, str::kPartlyReceivedDetails, true},
      {1, nullptr, QMessageBox::Yes, str::kPartlyReceived, false},  // nothing to detail
      {-3, nullptr, QMessageBox::Yes, str::kReceiveCancelled, false},
      {7, nullptr, QMessageBox::Yes, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    ModalAnswerer answerer(c.answer);
    if (c.reported) ReportError(0, kMsgDefault, "Kernel", "ReceiveFax", c.reported);
    ShowReceiveOutcome(c.result, nullptr);
    EXPECT_EQ(answerer.boxes, c.box ? QStringList{ResString(c.box)} : QStringList{});
    ASSERT_EQ(answerer.dialogTexts.size(), c.detailsShown ? 1 : 0);
    if (c.detailsShown) {
      EXPECT_TRUE(answerer.dialogTexts[0].contains(c.reported));
    }
    EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  }
}

TEST_F(UiCommonTest, SendOutcomeOnEveryModemRouteOffersTheModem) {
  ModalAnswerer answerer(QMessageBox::Yes);
  EXPECT_TRUE(ShowSendOutcome(0, SendRoute::EveryModem, "USB Modem", nullptr));
  EXPECT_EQ(answerer.boxes.last(), ResFormat(str::kAutoSent, QString("USB Modem")));
  answerer.SetAnswer(QMessageBox::No);
  EXPECT_FALSE(ShowSendOutcome(0, SendRoute::EveryModem, "USB Modem", nullptr));
  EXPECT_FALSE(ShowSendOutcome(0, SendRoute::Fixed, "", nullptr));
  EXPECT_EQ(answerer.boxes.last(), ResString(str::kSent));
  ShowSendOutcome(-2, SendRoute::EveryModem, "", nullptr);
  EXPECT_EQ(answerer.boxes.last(), ResFormat(str::kAutoCancelled, AutoModemName()));
}

// A receive shows page and bytes and ends on Cancel; a send shows its
// percentage in the bar; a second job while one runs is not started.
TEST_F(UiCommonTest, StatusWindowDrawsTheJobsProgressAndCancels) {
  JobControl control;
  StatusWindow window(control);
  int outcome = 99;
  std::atomic<bool> drawn{false};
  std::promise<void> release;
  JobRequest send;
  send.mode = JobMode::Send;
  send.device = "USB Modem";
  send.body = [&, released = release.get_future().share()] {
    control.ShowProgress(3, 5);
    control.SetProgressPercent(40);
    drawn = true;
    released.wait();
    control.HideProgress();
    return 0;
  };
  send.finished = [&](int result) { outcome = result; };
  ASSERT_EQ(window.StartJobThread(std::move(send)), 1);
  EXPECT_EQ(window.windowTitle(), "Send [USB Modem]");
  ASSERT_TRUE(WaitFor([&] { return drawn && window.RightText() == "40%"; }));
  EXPECT_TRUE(window.ProgressShown());
  EXPECT_EQ(window.ProgressValue(), 40);
  EXPECT_EQ(window.LeftText(), ResFormat(str::kStatusPage, 3));
  JobRequest second;
  second.body = [] { return 0; };
  EXPECT_EQ(window.StartJobThread(std::move(second)), 1);
  release.set_value();
  ASSERT_TRUE(WaitFor([&] { return !window.Busy(); }));
  EXPECT_EQ(outcome, 0);
  EXPECT_FALSE(window.ProgressShown());

  drawn = false;
  JobRequest receive;
  receive.mode = JobMode::Receive;
  receive.device = "COM1:";
  receive.body = [&] {
    control.SetStatusText("Receiving", true);
    control.ShowProgress(2, 0);
    control.AddProgress(1500);
    drawn = true;
    while (!control.IsCancelled(50)) {
    }
    return -3;
  };
  receive.finished = [&](int result) { outcome = result; };
  ASSERT_EQ(window.StartJobThread(std::move(receive)), 1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Receive [COM1:]");
  ASSERT_TRUE(WaitFor([&] { return drawn && window.LeftText().contains("Page(2)"); }));
  EXPECT_EQ(window.LeftText(), "Receiving Page(2) Data:");
  EXPECT_EQ(window.RightText(), "1500 Bytes");
  EXPECT_FALSE(window.ProgressShown());
  window.CancelJob();
  ASSERT_TRUE(WaitFor([&] { return !window.Busy(); }));
  EXPECT_EQ(outcome, -3);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(control.State(), kNoJob);
}

}  // namespace
}  // namespace vexo::ui
