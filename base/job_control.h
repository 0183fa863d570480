// JobControl: where the fax job on its worker thread and the status window on
// the user-interface thread meet. It records which job runs, carries the cancel
// and done events, and holds the status text (with its growing dots) and the
// progress values. The kernel and the protocols poll cancel and write status
// through it; the window (or the vexo command) reads them when a
// JobStatusObserver is told that something changed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vexo {

constexpr std::uint32_t kNoJob = 0;
constexpr std::uint32_t kSendJob = 1;
constexpr std::uint32_t kReceiveJob = 2;

constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFF;
constexpr std::size_t kStatusTextChars = 511;
// SetStatusText ignores texts of this many characters or more.
constexpr std::size_t kStatusTextInputChars = 250;

// What the status window draws, read in one piece under the job control's lock.
struct JobStatus {
  std::string text;
  std::uint32_t percent = 0;      // 0 to 100
  std::uint32_t total = 0;        // first value given to ShowProgress (the page number)
  std::uint32_t secondTotal = 0;  // second value given to ShowProgress (the page count)
  std::uint32_t accumulated = 0;  // sum of AddProgress counts (bytes received)
  bool progressVisible = false;
};

// Told after every change of the status text or the progress values, on the
// thread that made it (usually the job thread). An implementation reads
// JobControl::Status() and redraws; it must not call SetObserver.
class JobStatusObserver {
 public:
  virtual ~JobStatusObserver() = default;
  virtual void JobStatusChanged() = 0;
};

class JobControl {
 public:
  JobControl() = default;
  JobControl(const JobControl&) = delete;
  JobControl& operator=(const JobControl&) = delete;

  // Starts a job of kind kSendJob or kReceiveJob: resets both events and the
  // progress values. Returns 1, or 0 (nothing changed) while a job runs or for
  // another kind.
  int StartJob(std::uint32_t kind);
  // Sets the cancel event if a job runs; it stays set until the next StartJob.
  void Cancel();
  // Ends the job: state 0, done event set.
  void EndJob();
  // Waits up to timeoutMs (kWaitInfinite: no limit) for the done event and
  // returns the state then. Without a running job it returns 0 at once.
  int WaitDone(std::uint32_t timeoutMs);
  // 1 when the cancel event is set, waiting up to timeoutMs for it.
  int IsCancelled(std::uint32_t timeoutMs = 0);
  std::uint32_t State() const;

  // Status text followed by the dots: 0, 2, 4, 6, 8, then 0 again, restarted by
  // reset. Returns 0 (text ignored) for a text of 250 characters or more.
  int SetStatusText(std::string_view text, bool reset);
  // Status text from the string table, cut to 511 characters.
  void SetStatusString(unsigned stringId);
  // Status text from the string-table entry used as printf format.
  void SetStatusFormat(unsigned stringId, ...);

  // Progress display: shown with its two values and restarted at 0.
  void ShowProgress(std::uint32_t total, std::uint32_t secondTotal);
  void HideProgress();
  // Kept modulo 101.
  void SetProgressPercent(std::uint32_t value);
  void AddProgress(std::uint32_t count);

  JobStatus Status() const;

  // The window that draws the status; nullptr detaches. Once this returns, the
  // previous observer is no longer being called.
  void SetObserver(JobStatusObserver* observer);

 private:
  void SetText(std::string text);
  void Changed();

  mutable std::mutex m_lock;
  std::condition_variable m_signal;
  std::uint32_t m_state = kNoJob;
  bool m_cancel = false;
  bool m_done = false;
  std::uint32_t m_dotCount = 0;
  JobStatus m_status;

  std::mutex m_observerLock;
  JobStatusObserver* m_observer = nullptr;
};

}  // namespace vexo
