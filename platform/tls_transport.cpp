#include "platform/tls_transport.h"

#include <cerrno>

namespace platform {
namespace {

constexpr size_t kPlainChunk = 65536;

}  // namespace

TlsTransport::TlsTransport(std::unique_ptr<AsyncTransport> inner)
    : inner_(std::move(inner)), plain_(kPlainChunk, '\0') {
  inner_->setListener(this);
}

TlsTransport::~TlsTransport() { inner_->setListener(nullptr); }

TlsTransport::Secure* TlsTransport::find(int socket) {
  auto it = secure_.find(socket);
  return it == secure_.end() ? nullptr : &it->second;
}

int TlsTransport::connect(int socket, Ipv4Address address, int port) {
  secure_.erase(socket);
  failures_.erase(socket);
  return inner_->connect(socket, address, port);
}

int TlsTransport::connectSecure(int socket, Ipv4Address address, int port, const std::string& host) {
  failures_.erase(socket);
  Secure& secure = secure_[socket];
  secure.session = std::make_unique<TlsSession>(host, port);
  if (!secure.session->failure().empty()) {
    failures_[socket] = secure.session->failure();
    secure_.erase(socket);
    return EPROTO;
  }
  const int error = inner_->connect(socket, address, port);
  if (error != 0) secure_.erase(socket);
  return error;
}

std::string TlsTransport::securityFailure(int socket) const {
  auto it = failures_.find(socket);
  return it == failures_.end() ? std::string() : it->second;
}

long TlsTransport::send(int socket, std::string_view bytes) {
  Secure* secure = find(socket);
  if (!secure) return inner_->send(socket, bytes);
  if (secure->failed || !secure->session->established() || !secure->session->write(bytes)) return -1;
  flush(socket, *secure);
  // All of it is taken: what the socket could not take yet waits here, and
  // the listener hears "writable" again only once it has gone.
  return static_cast<long>(bytes.size());
}

void TlsTransport::closeSocket(int socket) {
  if (Secure* secure = find(socket)) {
    // The closing alert, if the socket takes it now; a peer that misses it
    // sees the connection end all the same.
    if (secure->session->established()) {
      secure->session->close();
      flush(socket, *secure);
    }
    secure_.erase(socket);
  }
  failures_.erase(socket);
  inner_->closeSocket(socket);
}

bool TlsTransport::flush(int socket, Secure& secure) {
  secure.session->takeOutgoing(secure.unsent);
  if (secure.unsent.empty()) return true;
  const long sent = inner_->send(socket, secure.unsent);
  if (sent > 0) secure.unsent.erase(0, static_cast<size_t>(sent));
  return secure.unsent.empty();
}

void TlsTransport::lookupFinished(int lookup, const std::vector<Ipv4Address>& addresses) {
  if (listener_) listener_->lookupFinished(lookup, addresses);
}

void TlsTransport::socketConnected(int socket, int error) {
  Secure* secure = find(socket);
  if (!secure || error != 0) {
    if (secure) secure->failed = true;
    if (listener_) listener_->socketConnected(socket, error);
    return;
  }
  advanceHandshake(socket);
}

void TlsTransport::advanceHandshake(int socket) {
  Secure* secure = find(socket);
  const TlsSession::Step step = secure->session->handshake();
  flush(socket, *secure);
  if (step == TlsSession::Step::Again) return;
  if (step == TlsSession::Step::Failed) {
    // Reported as a failed connection: the listener never gets to send.
    secure->failed = true;
    failures_[socket] = secure->session->failure();
    if (listener_) listener_->socketConnected(socket, EPROTO);
    return;
  }
  if (listener_) listener_->socketConnected(socket, 0);
  secure = find(socket);
  if (!secure) return;
  if (secure->unsent.empty() && listener_) listener_->socketWritable(socket);
  // Bytes that came with the handshake's last flight.
  if (find(socket)) deliverPlain(socket);
}

void TlsTransport::socketWritable(int socket) {
  Secure* secure = find(socket);
  if (!secure) {
    if (listener_) listener_->socketWritable(socket);
    return;
  }
  if (secure->failed || !flush(socket, *secure)) return;
  if (secure->session->established() && listener_) listener_->socketWritable(socket);
}

void TlsTransport::socketReceived(int socket, std::string_view bytes) {
  Secure* secure = find(socket);
  if (!secure) {
    if (listener_) listener_->socketReceived(socket, bytes);
    return;
  }
  if (secure->failed) return;
  secure->session->putIncoming(bytes);
  if (!secure->session->established()) {
    advanceHandshake(socket);
  } else {
    deliverPlain(socket);
  }
}

void TlsTransport::deliverPlain(int socket) {
  for (;;) {
    Secure* secure = find(socket);
    if (!secure || secure->failed) return;
    const long count = secure->session->read(plain_.data(), plain_.size());
    if (count > 0) {
      if (listener_)
        listener_->socketReceived(socket, std::string_view(plain_.data(), static_cast<size_t>(count)));
      continue;
    }
    if (count == 0) {
      flush(socket, *secure);
      return;
    }
    // The stream has ended: the peer's closing alert, or a broken session.
    secure->failed = true;
    const bool clean = secure->session->endedCleanly() || secure->session->failure().empty();
    if (listener_) listener_->socketClosed(socket, clean ? 0 : EPROTO);
    return;
  }
}

void TlsTransport::socketClosed(int socket, int error) {
  Secure* secure = find(socket);
  if (!secure) {
    if (listener_) listener_->socketClosed(socket, error);
    return;
  }
  if (secure->failed) return;
  secure->session->peerClosed();
  if (!secure->session->established()) {
    advanceHandshake(socket);
    return;
  }
  deliverPlain(socket);
  secure = find(socket);
  if (secure && !secure->failed) {
    secure->failed = true;
    if (listener_) listener_->socketClosed(socket, error);
  }
}

}  // namespace platform
