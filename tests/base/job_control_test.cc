#include "base/job_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/wait_for.h"

namespace vexo {
namespace {

TEST(JobControl, StatusTextDotsCycleAndOverlongTextIsIgnored) {
  JobControl job;
  for (const char* text : {"Wait", "Wait..", "Wait....", "Wait......", "Wait........", "Wait"}) {
    EXPECT_EQ(job.SetStatusText("Wait", false), 1);
    EXPECT_EQ(job.Status().text, text);
  }
  job.SetStatusText("Other", true);
  EXPECT_EQ(job.Status().text, "Other");
  EXPECT_EQ(job.SetStatusText(std::string(250, 'x'), false), 0);
  EXPECT_EQ(job.Status().text, "Other");
  // Characters, not bytes: 249 two-byte characters are taken.
  std::string wide;
  for (int i = 0; i < 249; ++i) wide += "\xC3\xA9";
  EXPECT_EQ(job.SetStatusText(wide, true), 1);
}

TEST(JobControl, StartEndCancelAndProgressFollowTheState) {
  JobControl job;
  EXPECT_EQ(job.WaitDone(0), 0);
  EXPECT_EQ(job.WaitDone(kWaitInfinite), 0);  // no job: returns at once
  job.Cancel();
  EXPECT_EQ(job.IsCancelled(), 0);  // cancel acts only while a job runs
  EXPECT_EQ(job.StartJob(3), 0);
  EXPECT_EQ(job.StartJob(kNoJob), 0);

  ASSERT_EQ(job.StartJob(kSendJob), 1);
  job.ShowProgress(2, 5);
  job.SetProgressPercent(150);
  job.AddProgress(4096);
  job.AddProgress(100);
  EXPECT_EQ(job.StartJob(kReceiveJob), 0);
  EXPECT_EQ(job.State(), kSendJob);
  const JobStatus s = job.Status();  // the refused start changed nothing
  EXPECT_TRUE(s.progressVisible);
  EXPECT_EQ(s.total, 2u);
  EXPECT_EQ(s.secondTotal, 5u);
  EXPECT_EQ(s.percent, 49u);  // kept modulo 101
  EXPECT_EQ(s.accumulated, 4196u);
  job.ShowProgress(3, 5);
  EXPECT_EQ(job.Status().accumulated, 0u);
  job.HideProgress();
  EXPECT_FALSE(job.Status().progressVisible);
  EXPECT_EQ(job.WaitDone(0), static_cast<int>(kSendJob));

  job.ShowProgress(1, 3);
  job.Cancel();
  EXPECT_EQ(job.IsCancelled(), 1);
  job.EndJob();
  EXPECT_EQ(job.IsCancelled(), 1);  // stays set until the next start
  EXPECT_EQ(job.WaitDone(0), 0);
  ASSERT_EQ(job.StartJob(kReceiveJob), 1);
  EXPECT_EQ(job.IsCancelled(), 0);
  EXPECT_FALSE(job.Status().progressVisible);
}

// Counts redraw requests and reads the status the way a window would (reading
// inside the call must not deadlock).
struct CountingObserver : JobStatusObserver {
  explicit CountingObserver(JobControl& j) : job(j) {}
  void JobStatusChanged() override {
    lastText = job.Status().text;
    ++calls;
  }
  JobControl& job;
  std::atomic<int> calls{0};
  std::string lastText;
};

TEST(JobControl, JobThreadSeesCancelAtItsNextPollAndWindowWaitsForTheEnd) {
  JobControl job;
  CountingObserver window(job);
  job.SetObserver(&window);
  ASSERT_EQ(job.StartJob(kSendJob), 1);
  std::atomic<bool> polling{false};
  std::atomic<int> secondStart{-1};
  int pollsBeforeCancel = -1;

  std::thread worker([&] {
    // A second job from another thread is refused while this one runs.
    secondStart = job.StartJob(kReceiveJob);
    int polls = 0;
    while (!job.IsCancelled(0)) {
      job.SetStatusText("Sending", false);
      job.AddProgress(1);
      polling = true;
      ++polls;
    }
    pollsBeforeCancel = polls;
    job.SetStatusText("Cancelled", true);
    job.EndJob();
  });
  EXPECT_TRUE(test::WaitFor([&] { return polling.load(); }, std::chrono::seconds(5)));
  job.Cancel();
  EXPECT_EQ(job.WaitDone(kWaitInfinite), 0);
  worker.join();

  EXPECT_EQ(secondStart, 0);
  EXPECT_GT(pollsBeforeCancel, 0);
  EXPECT_EQ(job.Status().text, "Cancelled");
  EXPECT_EQ(window.lastText, "Cancelled");
  EXPECT_GE(window.calls, pollsBeforeCancel * 2);
  // A detached observer is no longer called.
  job.SetObserver(nullptr);
  const int seen = window.calls;
  job.SetProgressPercent(1);
  EXPECT_EQ(window.calls, seen);

  // A blocking wait for the cancel wakes when the other thread cancels.
  ASSERT_EQ(job.StartJob(kReceiveJob), 1);
  std::thread canceller([&] { job.Cancel(); });
  EXPECT_EQ(job.IsCancelled(kWaitInfinite), 1);
  canceller.join();
}

}  // namespace
}  // namespace vexo
