#include "ui/frame/auto_answer.h"

#include <utility>

namespace vexo::ui {

AutoAnswer::AutoAnswer(Hooks hooks, QObject* parent) : QObject(parent), m_hooks(std::move(hooks)) {
  m_next.setSingleShot(true);
  connect(&m_next, &QTimer::timeout, this, &AutoAnswer::StartNextWait);
  m_yield.setInterval(kYieldCheckMs);
  connect(&m_yield, &QTimer::timeout, this, &AutoAnswer::YieldIfNoCall);
}

void AutoAnswer::SetRings(unsigned rings) {
  m_rings = rings;
  if (rings == 0) {
    m_next.stop();
    if (m_ownsJob && m_hooks.waitingForRing()) m_hooks.cancelJob();
  } else if (!m_hooks.jobRunning()) {
    m_next.start(0);
  }
}

ModemClaim AutoAnswer::ClaimModem(std::function<void()> start) {
  if (!m_hooks.jobRunning()) {
    start();
    return ModemClaim::Now;
  }
  m_pendingSend = std::move(start);
  if (m_ownsJob && m_hooks.waitingForRing()) {
    m_hooks.cancelJob();
    return ModemClaim::AfterWait;
  }
  if (m_ownsJob) m_yield.start();
  return ModemClaim::AfterCall;
}

void AutoAnswer::YieldIfNoCall() {
  if (!m_ownsJob || !m_pendingSend) {
    m_yield.stop();
  } else if (m_hooks.waitingForRing()) {
    m_yield.stop();
    m_hooks.cancelJob();
  }
}

void AutoAnswer::JobEnded(bool failed) {
  m_ownsJob = false;
  m_yield.stop();
  if (m_pendingSend) {
    std::exchange(m_pendingSend, nullptr)();
    // A send that started brings the next wait when it ends.
    if (m_hooks.jobRunning()) return;
  }
  if (m_rings > 0) m_next.start(failed ? kRetryAfterFailureMs : 0);
}

void AutoAnswer::StartNextWait() {
  if (m_rings == 0 || m_hooks.jobRunning()) return;
  if (m_hooks.modemLent && m_hooks.modemLent()) {
    m_next.start(kLentCheckMs);
    return;
  }
  m_ownsJob = m_hooks.startWait(m_rings);
  if (!m_ownsJob) m_next.start(kRetryAfterFailureMs);
}

}  // namespace vexo::ui
