#include "ui/frame/instance_server.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "app/jobs/list_refresh.h"
#include "ui/frame/main_frame.h"

namespace vexo::ui {
namespace {

constexpr int kConnectWaitMs = 1000;
constexpr qsizetype kMaxRequestBytes = 256;

}  // namespace

InstanceServer::InstanceServer(QObject* parent) : QObject(parent) {
  m_server = new QLocalServer(this);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::Listen(const QString& path) {
  if (m_server->listen(path)) return true;
  // Nobody answered on it (the caller checked): a socket file left behind.
  QLocalServer::removeServer(path);
  return m_server->listen(path);
}

void InstanceServer::Accept() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxRequestBytes).trimmed();
        if (line + '\n' == QByteArray(kRefreshListLine)) emit RefreshRequested(kRefreshList);
        if (const std::uint32_t id = AskNumberId(line.toStdString())) emit NumberRequested(id);
      }
      // A client that sends no line end within the limit is not listened to.
      if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
    });
  }
}

bool SignalRunningInstance(const QString& path, const QStringList& arguments) {
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(kConnectWaitMs)) return false;
  if (arguments.join(QLatin1Char(' ')).contains(QLatin1String("-refreshlist"))) {
    socket.write(kRefreshListLine);
    socket.waitForBytesWritten(kConnectWaitMs);
  }
  socket.disconnectFromServer();
  return true;
}

}  // namespace vexo::ui
