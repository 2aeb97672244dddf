#include "platform/network/event_socket.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <cerrno>

namespace platform {
namespace {

EventSocket::ErrorKind kindOf(QAbstractSocket::SocketError error) {
  using E = QAbstractSocket::SocketError;
  switch (error) {
    case E::HostNotFoundError:
      return EventSocket::ErrorKind::Lookup;
    case E::ConnectionRefusedError:
    case E::SocketTimeoutError:
    case E::NetworkError:
      return EventSocket::ErrorKind::Connect;
    default:
      return EventSocket::ErrorKind::General;
  }
}

int codeOf(QAbstractSocket::SocketError error) {
  using E = QAbstractSocket::SocketError;
  switch (error) {
    case E::ConnectionRefusedError:
      return ECONNREFUSED;
    case E::HostNotFoundError:
      return EHOSTUNREACH;
    case E::SocketTimeoutError:
      return ETIMEDOUT;
    case E::NetworkError:
      return ENETUNREACH;
    case E::SocketAccessError:
      return EACCES;
    case E::SocketResourceError:
      return ENOBUFS;
    default:
      return EIO;
  }
}

}  // namespace

struct EventSocket::Impl {
  QTcpSocket socket;
  bool open = false;
};

EventSocket::EventSocket() : impl_(std::make_unique<Impl>()) {
  QTcpSocket& socket = impl_->socket;
  QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
    QByteArray bytes = impl_->socket.readAll();
    if (!bytes.isEmpty() && onRead) onRead(bytes.toStdString());
  });
  QObject::connect(&socket, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError error) {
    // The peer's orderly close is no error; the disconnected signal reports it.
    if (error == QAbstractSocket::RemoteHostClosedError) return;
    bool wasConnected = impl_->socket.state() == QAbstractSocket::ConnectedState;
    impl_->open = false;
    impl_->socket.abort();
    if (onError) onError(wasConnected ? ErrorKind::Receive : kindOf(error), codeOf(error));
  });
  QObject::connect(&socket, &QTcpSocket::disconnected, [this] {
    if (!impl_->open) return;
    impl_->open = false;
    if (onClosed) onClosed();
  });
}

EventSocket::~EventSocket() {
  // No callback may run while the socket goes away.
  impl_->socket.disconnect();
  impl_->socket.abort();
}

void EventSocket::open(const std::string& host, uint16_t port) {
  if (impl_->open) return;
  impl_->open = true;
  impl_->socket.connectToHost(QString::fromStdString(host), port);
}

bool EventSocket::isOpen() const { return impl_->open; }

void EventSocket::send(const std::string& bytes) {
  if (!impl_->open) return;
  impl_->socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void EventSocket::close() {
  impl_->open = false;
  impl_->socket.abort();
}

std::string EventSocket::peerAddress() const {
  QHostAddress address = impl_->socket.peerAddress();
  if (address.isNull()) return "";
  bool isV4 = false;
  quint32 v4 = address.toIPv4Address(&isV4);
  if (isV4) return QHostAddress(v4).toString().toStdString();
  return address.toString().toStdString();
}

}  // namespace platform
