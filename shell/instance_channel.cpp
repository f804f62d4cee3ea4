#include "shell/instance_channel.h"

#include <QLocalSocket>

#include "app/instance_socket.h"
#include "platform/paths.h"

namespace lun {

namespace {

constexpr int kWaitMs = 1000;
constexpr qint64 kRequestLimit = kInstanceRequestLimit;

}  // namespace

QString InstanceChannel::SocketPath(const std::string& home) {
  return QString::fromStdString(JoinPath(home, "lun.socket"));
}

bool InstanceChannel::AskRunningInstance(const std::string& home, const char* request) {
  QLocalSocket socket;
  socket.connectToServer(SocketPath(home));
  if (!socket.waitForConnected(kWaitMs)) return false;
  socket.write(QByteArray(request) + "\n");
  if (!socket.waitForBytesWritten(kWaitMs)) return false;
  socket.disconnectFromServer();
  return true;
}

bool InstanceChannel::Listen(const std::string& home) {
  const QString path = SocketPath(home);
  QLocalServer::removeServer(path);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(path)) return false;
  connect(&server_, &QLocalServer::newConnection, this, &InstanceChannel::Serve);
  return true;
}

void InstanceChannel::Serve() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        // A client that never ends its line is cut off.
        if (socket->bytesAvailable() > kRequestLimit) socket->abort();
        return;
      }
      const QByteArray line = socket->readLine(kRequestLimit + 1).trimmed();
      if (line == kQuickSearchRequest) {
        emit QuickSearchRequested();
      } else if (handler_) {
        const std::string answer = handler_(std::string_view(line.constData(), line.size()));
        socket->write(answer.data(), static_cast<qint64>(answer.size()));
      }
      socket->disconnectFromServer();
    });
  }
}

}  // namespace lun
