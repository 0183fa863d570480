#include "ui/frame/fax_notifier.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace vexo::ui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr int kServerChoosesTimeout = -1;

}  // namespace

FaxNotifier::FaxNotifier(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
              SLOT(ActionInvoked(uint, QString)));
  bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
              SLOT(NotificationClosed(uint, uint)));
}

void FaxNotifier::Announce(const QString& summary, const QString& body, const QString& file) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QStringLiteral("vexofax") << uint{0} << QStringLiteral("vexofax") << summary << body
       << QStringList{kDefaultAction, summary} << QVariantMap{} << kServerChoosesTimeout;
  // Asynchronous: the window never waits for the desktop; a missing service
  // answers with an error, which is ignored.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, file](QDBusPendingCallWatcher* done) {
            const QDBusPendingReply<uint> reply = *done;
            if (reply.isValid()) m_files[reply.value()] = file;
            done->deleteLater();
          });
}

void FaxNotifier::ActionInvoked(uint id, const QString& action) {
  const auto it = m_files.find(id);
  if (it == m_files.end() || action != kDefaultAction) return;
  emit Opened(it->second);
}

void FaxNotifier::NotificationClosed(uint id, uint /*reason*/) { m_files.erase(id); }

}  // namespace vexo::ui
