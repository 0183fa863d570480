// Announces a newly filed fax through the desktop's notification service
// (org.freedesktop.Notifications on the session bus) and tells when the user
// clicked the notice. Without a session bus or a notification service nothing
// is shown and nothing is reported: the fax list and the tray still show the fax.
#pragma once

#include <QObject>
#include <QString>

#include <map>

namespace vexo::ui {

class FaxNotifier : public QObject {
  Q_OBJECT
 public:
  explicit FaxNotifier(QObject* parent = nullptr);

  // A notice with its default action; a click on it emits Opened(file).
  void Announce(const QString& summary, const QString& body, const QString& file);

 signals:
  void Opened(const QString& file);

 private slots:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  std::map<uint, QString> m_files;  // notice id -> fax file
};

}  // namespace vexo::ui
