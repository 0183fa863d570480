#include "ui/send/conv_file_dlg.h"

#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <filesystem>

#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

constexpr int kBarSteps = 1000;

}  // namespace

ConvFileDlg::ConvFileDlg(const SendContext& context, SendFields& fields,
                         std::vector<std::string> sources, QWidget* parent)
    : QDialog(parent), m_context(context), m_fields(fields), m_sources(std::move(sources)) {
  setObjectName("ConvFileDlg155");
  setWindowTitle(ResString(str::kConvertingTitle));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  m_status = new QLabel(this);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, kBarSteps);
  m_progress->setValue(0);
  m_cancel = new QPushButton(ResString(str::kCancel), this);
  layout->addWidget(m_status);
  layout->addWidget(m_progress);
  layout->addWidget(m_cancel, 0, Qt::AlignRight);
  connect(m_cancel, &QPushButton::clicked, this, &ConvFileDlg::reject);
  resize(380, sizeHint().height());
}

ConvFileDlg::~ConvFileDlg() {
  // The thread reports to this window; it must be gone first.
  if (m_convert) {
    m_convert->Cancel();
    m_convert->Wait();
  }
}

void ConvFileDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_started) {
    m_started = true;
    QTimer::singleShot(0, this, &ConvFileDlg::Begin);
  }
}

void ConvFileDlg::Fail() {
  FlushErrorPool(m_context.systemLog, false);
  done(kResultCancel);
}

void ConvFileDlg::Begin() {
  if (!isVisible()) return;  // closed before the conversion began
  const AppSettings& settings = *m_context.settings;
  ConvertRequest request;
  request.sources = m_sources;
  if (!m_fields.coverName.empty())
    request.coverTemplate =
        (std::filesystem::path(settings.CoverDir) / m_fields.coverName).string();
  request.details = {m_fields.recipient, m_fields.number, m_fields.subject, m_fields.note};
  const std::int64_t total = MeasureConversion(request);
  if (total < 0) return Fail();
  if (total == 0 &&
      ShowMessage(MB_OKCANCEL | MB_ICONEXCLAMATION, nullptr, str::kNothingToConvert) != IDOK) {
    done(kResultBack);
    return;
  }
  m_total = total;
  m_output = m_context.newFaxFile ? m_context.newFaxFile() : std::string();
  if (m_output.empty()) {
    ReportError(0, kMsgDefault, "ConvFileDlg", "OnInitDialog",
                "No new fax file can be created in %s.", settings.TIFDataDir.c_str());
    return Fail();
  }
  request.output = m_output;
  request.notBilevel = ShowNotBilevel;
  m_status->setText(
      ResFormat(str::kConvertingFile,
                QString::fromStdString(std::filesystem::path(m_output).filename().string())));
  request.progress = [this](std::uint64_t done) {
    m_done = done;
    // One queued repaint at a time, however fast the converter reports.
    if (!m_progressPending.exchange(true))
      QMetaObject::invokeMethod(
          this, [this] { ShowProgress(); }, Qt::QueuedConnection);
  };
  request.completion = [this](std::uint32_t pages, std::uint64_t bytes) {
    m_pages = pages;  // read on the interface thread after the thread's end
    m_bytes = bytes;
  };
  m_convert = std::make_unique<TiffConvert>(ConvertOptionsOf(settings), m_context.systemLog);
  const bool started = m_convert->Start(std::move(request), [this](ConvertOutcome outcome) {
    QMetaObject::invokeMethod(
        this, [this, outcome] { Finished(outcome); }, Qt::QueuedConnection);
  });
  if (!started) {
    ReportError(0, kMsgDefault, "ConvFileDlg", "OnInitDialog",
                "Error: CreateThread failed, ErrMsg = %s", "a conversion is already running");
    return Fail();
  }
  m_running = true;
}

void ConvFileDlg::ShowProgress() {
  m_progressPending = false;
  ++m_updates;
  if (m_total <= 0) return;
  const double part = static_cast<double>(m_done.load()) / static_cast<double>(m_total);
  m_progress->setValue(static_cast<int>(std::min(1.0, part) * kBarSteps));
}

void ConvFileDlg::Finished(ConvertOutcome outcome) {
  m_convert->Wait();
  m_running = false;
  switch (outcome) {
    case ConvertOutcome::Success:
      m_progress->setValue(kBarSteps);
      m_fields.generatedFile = m_output;
      m_fields.pages = m_pages;
      m_fields.bytes = m_bytes;
      done(kResultNext);
      break;
    case ConvertOutcome::Failure:
      // Attachments that were all empty fail without a report of their own.
      if (ErrorPool::Instance().Count() == 0)
        ReportError(0, kMsgDefault, "ConvFileDlg", "OnConvertEnd",
                    "The cover page and the attachments gave no fax page.");
      Fail();
      break;
    case ConvertOutcome::Cancelled:
      done(kResultBack);
      break;
  }
}

void ConvFileDlg::reject() {
  // A running conversion is asked to stop; the window closes when it has.
  if (m_running) {
    m_convert->Cancel();
    m_cancel->setEnabled(false);
    return;
  }
  done(kResultBack);
}

}  // namespace vexo::ui
