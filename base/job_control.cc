#include "base/job_control.h"

#include <chrono>
#include <cstdarg>

#include "base/strings.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::uint32_t kDotStep = 2;
constexpr std::uint32_t kDotRestart = 10;
constexpr std::uint32_t kPercentModulo = 101;

}  // namespace

int JobControl::StartJob(std::uint32_t kind) {
  if (kind != kSendJob && kind != kReceiveJob) return 0;
  {
    std::lock_guard lock(m_lock);
    if (m_state != kNoJob) return 0;
    m_cancel = false;
    m_done = false;
    m_status.percent = 0;
    m_status.total = 0;
    m_status.secondTotal = 0;
    m_status.accumulated = 0;
    m_status.progressVisible = false;
    m_state = kind;
  }
  Changed();
  return 1;
}

void JobControl::Cancel() {
  std::lock_guard lock(m_lock);
  if (m_state == kNoJob) return;
  m_cancel = true;
  m_signal.notify_all();
}

void JobControl::EndJob() {
  std::lock_guard lock(m_lock);
  m_state = kNoJob;
  m_done = true;
  m_signal.notify_all();
}

int JobControl::WaitDone(std::uint32_t timeoutMs) {
  std::unique_lock lock(m_lock);
  // Without a job there is nothing to wait for: an endless wait before the
  // first job would otherwise never return.
  const auto finished = [this] { return m_done || m_state == kNoJob; };
  if (timeoutMs == kWaitInfinite)
    m_signal.wait(lock, finished);
  else
    m_signal.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished);
  return static_cast<int>(m_state);
}

int JobControl::IsCancelled(std::uint32_t timeoutMs) {
  std::unique_lock lock(m_lock);
  const auto cancelled = [this] { return m_cancel; };
  if (timeoutMs == kWaitInfinite)
    m_signal.wait(lock, cancelled);
  else if (timeoutMs > 0)
    m_signal.wait_for(lock, std::chrono::milliseconds(timeoutMs), cancelled);
  return m_cancel ? 1 : 0;
}

std::uint32_t JobControl::State() const {
  std::lock_guard lock(m_lock);
  return m_state;
}

int JobControl::SetStatusText(std::string_view text, bool reset) {
  if (Utf8Length(text) >= kStatusTextInputChars) return 0;
  {
    std::lock_guard lock(m_lock);
    if (reset || m_dotCount == kDotRestart) m_dotCount = 0;
    m_status.text = std::string(text) + std::string(m_dotCount, '.');
    m_dotCount += kDotStep;
  }
  Changed();
  return 1;
}

void JobControl::SetStatusString(unsigned stringId) {
  SetText(std::string(Utf8Prefix(LoadResString(stringId), kStatusTextChars)));
}

void JobControl::SetStatusFormat(unsigned stringId, ...) {
  const std::string format = LoadResString(stringId);
  va_list args;
  va_start(args, stringId);
  std::string text = FormatV(kStatusTextChars, format.c_str(), args);
  va_end(args);
  SetText(std::move(text));
}

void JobControl::ShowProgress(std::uint32_t total, std::uint32_t secondTotal) {
  {
    std::lock_guard lock(m_lock);
    m_status.total = total;
    m_status.secondTotal = secondTotal;
    m_status.accumulated = 0;
    m_status.percent = 0;
    m_status.progressVisible = true;
  }
  Changed();
}

void JobControl::HideProgress() {
  {
    std::lock_guard lock(m_lock);
    m_status.progressVisible = false;
  }
  Changed();
}

void JobControl::SetProgressPercent(std::uint32_t value) {
  {
    std::lock_guard lock(m_lock);
    m_status.percent = value % kPercentModulo;
  }
  Changed();
}

void JobControl::AddProgress(std::uint32_t count) {
  {
    std::lock_guard lock(m_lock);
    m_status.accumulated += count;
  }
  Changed();
}

JobStatus JobControl::Status() const {
  std::lock_guard lock(m_lock);
  return m_status;
}

void JobControl::SetObserver(JobStatusObserver* observer) {
  std::lock_guard lock(m_observerLock);
  m_observer = observer;
}

void JobControl::SetText(std::string text) {
  {
    std::lock_guard lock(m_lock);
    m_status.text = std::move(text);
  }
  Changed();
}

void JobControl::Changed() {
  // The observer is called outside the state lock, so that it can read Status().
  std::lock_guard lock(m_observerLock);
  if (m_observer) m_observer->JobStatusChanged();
}

}  // namespace vexo
