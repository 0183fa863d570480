#include "ui/frame/tray_status.h"

#include <QSystemTrayIcon>
#include <QWidget>

#include "base/string_ids.h"
#include "ui/common/ui_strings.h"
#include "ui/frame/icons.h"

namespace vexo::ui {

TrayStatus::TrayStatus(QWidget* window) : QObject(window), m_window(window) {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    m_icon = new QSystemTrayIcon(this);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this] {
      m_window->showNormal();
      m_window->raise();
      m_window->activateWindow();
      ClearNewFaxes();
    });
  }
  Update();
}

void TrayStatus::SetLineState(LineState state) {
  m_state = state;
  Update();
}

void TrayStatus::AddNewFax() {
  ++m_newFaxes;
  Update();
}

void TrayStatus::AddFailedFax() {
  ++m_failedFaxes;
  Update();
}

void TrayStatus::ClearNewFaxes() {
  m_newFaxes = 0;
  m_failedFaxes = 0;
  Update();
}

void TrayStatus::Update() {
  QStringList lines{m_window->windowTitle()};
  if (m_state == LineState::Waiting) lines << ResString(str::kWaitingForCall);
  if (m_state == LineState::Receiving) lines << ResString(str::kReceivingCall);
  if (m_newFaxes > 0) lines << ResFormat(str::kTrayNewFaxes, m_newFaxes);
  if (m_failedFaxes > 0) lines << ResFormat(str::kTrayFailedFaxes, m_failedFaxes);
  m_toolTip = lines.join(QLatin1Char('\n'));
  if (!m_icon) return;
  const QIcon picture = m_newFaxes > 0                    ? ToolIcon(ToolPicture::NewFax)
                        : m_state == LineState::Receiving ? ToolIcon(ToolPicture::Receive)
                                                          : AppIcon();
  m_icon->setIcon(picture);
  m_icon->setToolTip(m_toolTip);
  m_icon->setVisible(true);
}

}  // namespace vexo::ui
