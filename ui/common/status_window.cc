#include "ui/common/status_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <system_error>

#include "base/presenter.h"
#include "base/string_ids.h"
#include "ui/common/error_dialog.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {

StatusWindow::StatusWindow(JobControl& control, QWidget* parent)
    : QDialog(parent), m_control(control) {
  setObjectName(QStringLiteral("StatusWindow"));
  setWindowTitle(ResString(str::kStatusTitle));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  m_status = new QLabel(this);
  m_status->setAlignment(Qt::AlignCenter);
  m_status->setWordWrap(true);
  m_status->setMinimumHeight(48);
  layout->addWidget(m_status);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setTextVisible(false);
  layout->addWidget(m_progress);
  auto* pageLine = new QHBoxLayout;
  m_left = new QLabel(this);
  m_right = new QLabel(this);
  m_right->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pageLine->addWidget(m_left);
  pageLine->addWidget(m_right);
  layout->addLayout(pageLine);
  m_note = new QLabel(this);
  m_note->setObjectName(QStringLiteral("StatusNote"));
  m_note->setAlignment(Qt::AlignCenter);
  m_note->setWordWrap(true);
  m_note->hide();
  layout->addWidget(m_note);
  m_cancel = new QPushButton(ResString(str::kStatusCancel), this);
  connect(m_cancel, &QPushButton::clicked, this, &StatusWindow::CancelJob);
  m_detailsButton = new QPushButton(ResString(str::kOutcomeDetails), this);
  m_detailsButton->hide();
  connect(m_detailsButton, &QPushButton::clicked, this, [this] {
    ErrorDialog dialog(m_details, window());
    dialog.exec();
    SetDetails({});
  });
  auto* buttonLine = new QHBoxLayout;
  buttonLine->addStretch();
  buttonLine->addWidget(m_cancel);
  buttonLine->addWidget(m_detailsButton);
  buttonLine->addStretch();
  layout->addLayout(buttonLine);
  setMinimumWidth(360);
  m_control.SetObserver(this);
  Refresh();
}

StatusWindow::~StatusWindow() {
  m_control.SetObserver(nullptr);
  EndJobAtExit();
}

void StatusWindow::EndJobAtExit() {
  m_finished = nullptr;
  if (m_thread.joinable()) {
    m_control.Cancel();
    m_thread.join();
  }
}

QString StatusWindow::TitleFor(JobMode mode, const QString& device) {
  return ResFormat(mode == JobMode::Send ? str::kStatusTitleSend : str::kStatusTitleReceive, device)
      .left(127);
}

int StatusWindow::StartJobThread(JobRequest request) {
  if (m_busy || (isVisible() && !m_staysShown)) return 1;
  m_mode = request.mode;
  setWindowTitle(TitleFor(m_mode, request.device));
  const auto kind = m_mode == JobMode::Send ? kSendJob : kReceiveJob;
  if (m_control.StartJob(kind) != 1) {
    ShowMessage(MB_ICONSTOP, nullptr, str::kJobNotStarted);
    return 0;
  }
  m_busy = true;
  m_finished = std::move(request.finished);
  Refresh();
  show();
  try {
    m_thread = std::thread([this, body = std::move(request.body)] {
      const int result = body ? body() : -1;
      m_control.EndJob();
      QMetaObject::invokeMethod(
          this, [this, result] { JobThreadEnded(result); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    m_control.EndJob();
    m_busy = false;
    hide();
    ShowMessage(MB_ICONSTOP, nullptr, str::kJobNotStarted);
    return 0;
  }
  return 1;
}

void StatusWindow::JobThreadEnded(int result) {
  if (m_thread.joinable()) m_thread.join();
  Refresh();
  if (m_finished) m_finished(result);
  m_finished = nullptr;
  m_busy = false;
  if (!m_staysShown) hide();
  emit JobEnded(static_cast<int>(m_mode), result);
}

void StatusWindow::CancelJob() {
  if (m_control.WaitDone(0) != 0) {
    m_control.SetStatusString(str::kCancelling);
    m_control.Cancel();
  } else if (!m_busy && !m_staysShown) {
    hide();
  }
  // A job that has just ended closes the window through its own close step.
}

void StatusWindow::reject() { CancelJob(); }

void StatusWindow::JobStatusChanged() {
  // Called on the job thread: one redraw queued at a time.
  if (!m_refreshPending.exchange(true)) {
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
  }
}

void StatusWindow::Refresh() {
  m_refreshPending = false;
  const JobStatus status = m_control.Status();
  m_status->setText(QString::fromStdString(status.text));
  DrawProgress(status);
  emit StatusDrawn();
}

void StatusWindow::DrawProgress(const JobStatus& status) {
  if (!status.progressVisible) {
    m_progress->setVisible(false);
    m_left->clear();
    m_right->clear();
    return;
  }
  if (m_mode == JobMode::Send) {
    m_progress->setValue(static_cast<int>(status.percent));
    m_progress->setVisible(true);
    m_left->setText(ResFormat(str::kStatusPage, static_cast<int>(status.total)));
    m_right->setText(QString::number(status.percent) + QLatin1Char('%'));
  } else {
    m_progress->setVisible(false);
    m_left->setText(ResFormat(str::kReceivePageData, static_cast<int>(status.total)));
    m_right->setText(ResFormat(str::kReceiveBytes, static_cast<int>(status.accumulated)));
  }
}

void StatusWindow::SetStaysShown(bool shown) {
  m_staysShown = shown;
  if (shown)
    show();
  else if (!m_busy)
    hide();
}

void StatusWindow::SetNote(const QString& note) {
  m_note->setText(note);
  m_note->setVisible(!note.isEmpty());
}

QString StatusWindow::Note() const { return m_note->text(); }

void StatusWindow::SetDetails(const QString& details) {
  m_details = details;
  m_detailsButton->setVisible(!details.isEmpty());
}

QString StatusWindow::StatusText() const { return m_status->text(); }
QString StatusWindow::LeftText() const { return m_left->text(); }
QString StatusWindow::RightText() const { return m_right->text(); }
bool StatusWindow::ProgressShown() const { return !m_progress->isHidden(); }
int StatusWindow::ProgressValue() const { return m_progress->value(); }

}  // namespace vexo::ui
