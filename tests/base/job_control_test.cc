#include "base/job_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "base/strings.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

TEST(JobControl, DotsCycleAndRestart) {
  JobControl job;
  const char* expected[] = {"Wait", "Wait..", "Wait....", "Wait......", "Wait........", "Wait"};
  for (const char* text : expected) {
    EXPECT_EQ(job.SetStatusText("Wait", false), 1);
    EXPECT_EQ(job.Status().text, text);
  }
  job.SetStatusText("Wait", false);
  EXPECT_EQ(job.Status().text, "Wait..");
  job.SetStatusText("Other", true);
  EXPECT_EQ(job.Status().text, "Other");
}

TEST(JobControl, OverlongStatusTextIsIgnored) {
  JobControl job;
  job.SetStatusText("kept", true);
  EXPECT_EQ(job.SetStatusText(std::string(250, 'x'), false), 0);
  EXPECT_EQ(job.Status().text, "kept");
  // Characters, not bytes: 249 two-byte characters are taken.
  std::string wide;
  for (int i = 0; i < 249; ++i) wide += "\xC3\xA9";
  EXPECT_EQ(job.SetStatusText(wide, true), 1);
}

TEST(JobControl, StartEndAndCancelFollowTheState) {
  JobControl job;
  EXPECT_EQ(job.WaitDone(0), 0);
  EXPECT_EQ(job.WaitDone(kWaitInfinite), 0);  // no job: returns at once
  job.Cancel();
  EXPECT_EQ(job.IsCancelled(), 0);  // cancel acts only while a job runs
  EXPECT_EQ(job.StartJob(3), 0);
  EXPECT_EQ(job.StartJob(kNoJob), 0);

  ASSERT_EQ(job.StartJob(kSendJob), 1);
  job.ShowProgress(1, 3);
  EXPECT_EQ(job.StartJob(kReceiveJob), 0);
  EXPECT_EQ(job.State(), kSendJob);
  EXPECT_TRUE(job.Status().progressVisible);  // the refused start changed nothing
  EXPECT_EQ(job.WaitDone(0), static_cast<int>(kSendJob));

  job.Cancel();
  EXPECT_EQ(job.IsCancelled(), 1);
  job.EndJob();
  EXPECT_EQ(job.IsCancelled(), 1);  // stays set until the next start
  EXPECT_EQ(job.WaitDone(0), 0);
  ASSERT_EQ(job.StartJob(kReceiveJob), 1);
  EXPECT_EQ(job.IsCancelled(), 0);
  EXPECT_FALSE(job.Status().progressVisible);
}

TEST(JobControl, ProgressValues) {
  JobControl job;
  job.ShowProgress(2, 5);
  job.SetProgressPercent(150);
  job.AddProgress(4096);
  job.AddProgress(100);
  JobStatus s = job.Status();
  EXPECT_TRUE(s.progressVisible);
  EXPECT_EQ(s.total, 2u);
  EXPECT_EQ(s.secondTotal, 5u);
  EXPECT_EQ(s.percent, 49u);  // kept modulo 101
  EXPECT_EQ(s.accumulated, 4196u);
  job.ShowProgress(3, 5);
  EXPECT_EQ(job.Status().accumulated, 0u);
  job.HideProgress();
  EXPECT_FALSE(job.Status().progressVisible);
}

TEST(JobControl, StatusStringsComeFromTheStringTable) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.path() / "strings");
  test::WriteFileBytes(dir.path() / "strings" / "TestRes.txt",
                       "70001\tDialling\n70002\tSending page %d of %d\n");
  setenv("VEXO_RESOURCES", dir.path().c_str(), 1);
  ASSERT_TRUE(LoadResDll("TestRes"));
  JobControl job;
  job.SetStatusString(70001);
  EXPECT_EQ(job.Status().text, "Dialling");
  job.SetStatusFormat(70002, 2, 7);
  EXPECT_EQ(job.Status().text, "Sending page 2 of 7");
  unsetenv("VEXO_RESOURCES");
  LoadResDll("EngRes");
}

// Counts redraw requests and reads the status the way a window would.
class CountingObserver : public JobStatusObserver {
 public:
  explicit CountingObserver(JobControl& job) : m_job(job) {}
  void JobStatusChanged() override {
    lastText = m_job.Status().text;  // reading inside the call must not deadlock
    ++calls;
  }
  std::atomic<int> calls{0};
  std::string lastText;

 private:
  JobControl& m_job;
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
  while (!polling) std::this_thread::yield();
  job.Cancel();
  EXPECT_EQ(job.WaitDone(kWaitInfinite), 0);
  worker.join();

  EXPECT_EQ(secondStart, 0);
  EXPECT_GT(pollsBeforeCancel, 0);
  EXPECT_EQ(job.Status().text, "Cancelled");
  EXPECT_EQ(window.lastText, "Cancelled");
  EXPECT_GE(window.calls, pollsBeforeCancel * 2);
  job.SetObserver(nullptr);
}

TEST(JobControl, BlockingWaitsWakeWhenTheOtherThreadActs) {
  JobControl job;
  ASSERT_EQ(job.StartJob(kReceiveJob), 1);
  std::thread window([&] { job.Cancel(); });
  EXPECT_EQ(job.IsCancelled(kWaitInfinite), 1);
  window.join();
  std::thread worker([&] { job.EndJob(); });
  EXPECT_EQ(job.WaitDone(kWaitInfinite), 0);
  worker.join();
}

TEST(JobControl, DetachedObserverIsNoLongerCalled) {
  JobControl job;
  CountingObserver window(job);
  job.SetObserver(&window);
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) job.SetProgressPercent(1);
  });
  while (window.calls == 0) std::this_thread::yield();
  job.SetObserver(nullptr);
  const int seen = window.calls;
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  EXPECT_EQ(window.calls, seen);
  stop = true;
  worker.join();
}

}  // namespace
}  // namespace vexo
