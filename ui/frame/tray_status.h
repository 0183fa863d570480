// The tray icon of the main window, where the desktop has a tray: its picture
// and tooltip say whether the program waits for calls, receives one, or has
// new faxes or queued faxes given up not yet looked at; a click brings the
// main window forward.
#pragma once

#include <QObject>
#include <QString>

class QSystemTrayIcon;
class QWidget;

namespace vexo::ui {

enum class LineState { Idle, Waiting, Receiving };

class TrayStatus : public QObject {
  Q_OBJECT
 public:
  explicit TrayStatus(QWidget* window);

  void SetLineState(LineState state);
  void AddNewFax();
  // A queued fax the outbox gave up.
  void AddFailedFax();
  // The user has looked at the window: no new or failed faxes any more.
  void ClearNewFaxes();
  QString ToolTip() const { return m_toolTip; }

 private:
  void Update();

  QWidget* m_window;
  QSystemTrayIcon* m_icon = nullptr;  // null without a tray
  LineState m_state = LineState::Idle;
  int m_newFaxes = 0;
  int m_failedFaxes = 0;
  QString m_toolTip;
};

}  // namespace vexo::ui
