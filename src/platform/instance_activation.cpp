#include "platform/instance_activation.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>
#include <cstdio>

#include "platform/single_instance.h"

namespace yuragi {

namespace {
constexpr char kActivate[] = "activate\n";
}

ActivationServer::ActivationServer(const QString& instanceName, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)) {
  const QString name = InstanceSocketName(instanceName);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // We hold the lock, so a socket left there is from a crashed process.
  QLocalServer::removeServer(name);
  // Without the socket a later start cannot bring this window forward,
  // but this instance runs on all the same.
  if (!server_->listen(name)) {
    std::fprintf(stderr, "yuragimaru: cannot listen for activation on %s: %s\n", qUtf8Printable(name),
                 qUtf8Printable(server_->errorString()));
  }
  connect(server_, &QLocalServer::newConnection, this, &ActivationServer::OnConnection);
}

ActivationServer::~ActivationServer() { server_->close(); }

bool ActivationServer::IsListening() const { return server_->isListening(); }

void ActivationServer::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (socket->readAll().contains("activate") && window_) BringToFront(window_);
      socket->disconnectFromServer();
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  }
}

void ActivateRunningInstance(const QString& instanceName) {
  QLocalSocket socket;
  socket.connectToServer(InstanceSocketName(instanceName));
  if (!socket.waitForConnected(2000)) return;
  socket.write(kActivate);
  socket.waitForBytesWritten(2000);
  socket.waitForDisconnected(2000);
}

void BringToFront(QWidget* window) {
  if (window->isMinimized()) window->showNormal();
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace yuragi
