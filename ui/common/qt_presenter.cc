#include "ui/common/qt_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "ui/common/error_dialog.h"

namespace vexo::ui {
namespace {

bool OnGuiThread() { return QThread::currentThread() == qApp->thread(); }

QMessageBox::Icon IconFor(unsigned style) {
  switch (style & 0xF0) {
    case MB_ICONSTOP:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONINFORMATION:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

QtPresenter::QtPresenter(QWidget* owner) : m_owner(owner) {
  // Calls from the job thread are queued to the thread that owns this object.
  moveToThread(qApp->thread());
}

QtPresenter::~QtPresenter() = default;

int QtPresenter::MessageBox(std::string_view text, const std::optional<std::string>& caption,
                            unsigned style) {
  const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QString qcaption = caption ? QString::fromStdString(*caption) : QString();
  if (OnGuiThread()) return ShowBox(qtext, qcaption, caption.has_value(), style);
  int answer = IDCANCEL;
  QMetaObject::invokeMethod(
      this, [&] { answer = ShowBox(qtext, qcaption, caption.has_value(), style); },
      Qt::BlockingQueuedConnection);
  return answer;
}

void QtPresenter::ShowErrorDetails(std::string_view text) {
  const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (OnGuiThread()) {
    ShowDetails(qtext);
    return;
  }
  QMetaObject::invokeMethod(
      this, [&] { ShowDetails(qtext); }, Qt::BlockingQueuedConnection);
}

int QtPresenter::ShowBox(const QString& text, const QString& caption, bool hasCaption,
                         unsigned style) {
  QMessageBox box(IconFor(style), hasCaption ? caption : QString(), text, QMessageBox::NoButton,
                  m_owner);
  box.setObjectName(QStringLiteral("VexoMessageBox"));
  switch (style & 0x0F) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return (style & 0x0F) == MB_YESNO ? IDNO : (style & 0x0F) == MB_OK ? IDOK : IDCANCEL;
  }
}

void QtPresenter::ShowDetails(const QString& text) {
  ErrorDialog dialog(text, m_owner);
  dialog.exec();
}

ScopedQtPresenter::ScopedQtPresenter(QWidget* owner) : m_presenter(owner) {
  SetPresenter(&m_presenter);
}

ScopedQtPresenter::~ScopedQtPresenter() { SetPresenter(nullptr); }

}  // namespace vexo::ui
