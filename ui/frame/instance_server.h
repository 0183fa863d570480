// One vexofax per home: the first one listens on the home's relist socket; a
// later start finds it there, passes on "-refreshlist" and ends. The vexo
// command uses the same socket to have the list read again after it filed a
// record, and to have the user asked for the number of a fax it queued
// without one.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace vexo::ui {

class InstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit InstanceServer(QObject* parent = nullptr);
  ~InstanceServer() override;
  // Listens on the socket path (a stale socket left by a crashed run is
  // removed first); false when it cannot.
  bool Listen(const QString& path);

 signals:
  // A client asked for the list to be read again (the value 1 of the refresh).
  void RefreshRequested(int value);
  // A client queued the fax id without a number ("asknumber <id>").
  void NumberRequested(quint32 id);

 private:
  void Accept();
  QLocalServer* m_server = nullptr;
};

// Whether a vexofax listens on path; when one does and the command line holds
// "-refreshlist" anywhere, it is asked to relist.
bool SignalRunningInstance(const QString& path, const QStringList& arguments);

}  // namespace vexo::ui
