// Automatic answering: while it is on, the modem waits for the next call
// whenever no job runs. This class decides when the next wait starts; the
// main window starts the jobs. A send that wants the modem ends a wait that
// has no call yet and runs first, or runs after a call being received; either
// way waiting resumes once the send has ended. A send of another program
// that borrowed the modem from a wait holds it until it ends; waiting resumes
// after that too.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace vexo::ui {

// When a send asked for the modem gets it.
enum class ModemClaim {
  Now,        // no job ran: the send has started
  AfterWait,  // the wait for a call was cancelled; the send starts once it has ended
  AfterCall,  // a call is being received; the send starts once it has ended
};

class AutoAnswer : public QObject {
  Q_OBJECT
 public:
  struct Hooks {
    // Starts a receive job that answers after rings; false when none started.
    std::function<bool(unsigned rings)> startWait;
    // Whether any job runs.
    std::function<bool()> jobRunning;
    // Whether the running job still waits for a ring (no call yet).
    std::function<bool()> waitingForRing;
    // Asks the running job to stop.
    std::function<void()> cancelJob;
    // Whether a send of another program holds the modem; may be empty.
    std::function<bool()> modemLent;
  };

  // A wait that failed (no modem, port busy) is tried again after this long.
  static constexpr int kRetryAfterFailureMs = 30000;
  // How often a send behind a job of ours looks whether it may take the modem.
  static constexpr int kYieldCheckMs = 250;
  // How often the next wait looks whether the modem lent to a send is back.
  static constexpr int kLentCheckMs = 500;

  explicit AutoAnswer(Hooks hooks, QObject* parent = nullptr);

  // 0 turns answering off (a wait without a call is cancelled); n answers
  // after n rings from the next wait on.
  void SetRings(unsigned rings);
  unsigned Rings() const { return m_rings; }
  // Whether the running job is a wait this class started.
  bool OwnsJob() const { return m_ownsJob; }
  // Whether a send already waits for the modem (one at a time).
  bool ClaimPending() const { return static_cast<bool>(m_pendingSend); }
  // A send wants the modem; start runs it when the modem is free.
  ModemClaim ClaimModem(std::function<void()> start);
  // A job has ended (the status window's JobEnded); failed: the wait could
  // not be had, so the next one is tried later.
  void JobEnded(bool failed);

 private:
  void StartNextWait();
  // While a send waits for a job of ours: ends it once it turns out to be a
  // wait without a call (the port was still being opened when the send came).
  void YieldIfNoCall();

  Hooks m_hooks;
  unsigned m_rings = 0;
  bool m_ownsJob = false;
  std::function<void()> m_pendingSend;
  QTimer m_next;
  QTimer m_yield;
};

}  // namespace vexo::ui
