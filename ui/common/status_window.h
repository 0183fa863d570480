// The status window of a fax job: it starts the job on its own thread, draws
// the job's status text and page progress while the job runs, offers Cancel,
// and once the job thread has ended hands the result to the caller's outcome
// step on the interface thread and hides. One job at a time: while a job runs
// no second one starts. The window is not modal: the main window docks it as
// its status pane and stays usable while a job runs. Below the job's texts it
// can show a note (what happens next, the last outcome) and a Details button
// for the reports of that outcome.
#pragma once

#include <QDialog>

#include <atomic>
#include <functional>
#include <thread>

#include "base/job_control.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vexo::ui {

enum class JobMode { Send = 1, Receive = 2 };

struct JobRequest {
  JobMode mode = JobMode::Receive;
  // The device named in the title: "COM1:", a modem's list name or the
  // automatic choice's name.
  QString device;
  // The job itself, run on the job thread; returns the job's result code. The
  // window ends the job in the job control once it returns.
  std::function<int()> body;
  // Run on the interface thread after the job thread has ended, before the
  // window hides: the outcome messages.
  std::function<void(int result)> finished;
};

class StatusWindow : public QDialog, private JobStatusObserver {
  Q_OBJECT
 public:
  explicit StatusWindow(JobControl& control, QWidget* parent = nullptr);
  ~StatusWindow() override;

  // Shows the window and starts the job. Returns 1 when the job started or the
  // window was already busy with one (nothing is done then), 0 when the job
  // control refused it (the error message has been shown).
  int StartJobThread(JobRequest request);
  // At exit: cancels a running job and waits for its thread to end; its
  // outcome step does not run.
  void EndJobAtExit();
  // True from StartJobThread until the outcome step has run.
  bool Busy() const { return m_busy; }
  JobMode Mode() const { return m_mode; }

  // "Receive [device]" or "Send [device]", at most 127 characters.
  static QString TitleFor(JobMode mode, const QString& device);

  // What is drawn now (read by the tests and the screenshots).
  QString StatusText() const;
  QString LeftText() const;
  QString RightText() const;
  bool ProgressShown() const;
  int ProgressValue() const;

  // Keeps the window shown between jobs (the main window's pane while calls
  // are answered automatically).
  void SetStaysShown(bool shown);
  // The line under the job's texts; empty hides it.
  void SetNote(const QString& note);
  QString Note() const;
  // The error details of the last outcome, offered by the Details button;
  // empty hides the button.
  void SetDetails(const QString& details);

 public slots:
  // Cancel: asks a running job to stop; the window closes when it has.
  void CancelJob();

 signals:
  void JobEnded(int mode, int result);
  // The job's texts were drawn anew.
  void StatusDrawn();

 protected:
  void reject() override;

 private:
  void JobStatusChanged() override;
  void Refresh();
  void DrawProgress(const JobStatus& status);
  void JobThreadEnded(int result);

  JobControl& m_control;
  QLabel* m_status = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_left = nullptr;
  QLabel* m_right = nullptr;
  QPushButton* m_cancel = nullptr;
  QLabel* m_note = nullptr;
  QPushButton* m_detailsButton = nullptr;
  QString m_details;
  bool m_staysShown = false;
  JobMode m_mode = JobMode::Receive;
  bool m_busy = false;
  std::function<void(int)> m_finished;
  std::thread m_thread;
  std::atomic<bool> m_refreshPending{false};
};

}  // namespace vexo::ui
