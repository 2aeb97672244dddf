// An AsyncTransport that adds TLS to another one: sockets connected with
// connectSecure carry a TlsSession, whose handshake runs on the inner
// transport's events before the listener hears socketConnected; after that
// the listener sends and receives plain bytes as on any socket. Sockets
// connected with connect pass straight through. Still event-driven on the
// thread that owns it: nothing here blocks.
#pragma once

#include <memory>
#include <unordered_map>

#include "platform/async_transport.h"
#include "platform/tls_session.h"

namespace platform {

class TlsTransport final : public AsyncTransport, private TransportListener {
 public:
  explicit TlsTransport(std::unique_ptr<AsyncTransport> inner);
  ~TlsTransport() override;

  void setListener(TransportListener* listener) override { listener_ = listener; }
  int openSocket() override { return inner_->openSocket(); }
  int startLookup(const std::string& host) override { return inner_->startLookup(host); }
  void cancelLookup(int lookup) override { inner_->cancelLookup(lookup); }
  bool watchSocket(int socket) override { return inner_->watchSocket(socket); }
  int connect(int socket, Ipv4Address address, int port) override;
  int connectSecure(int socket, Ipv4Address address, int port, const std::string& host) override;
  std::string securityFailure(int socket) const override;
  long send(int socket, std::string_view bytes) override;
  void closeSocket(int socket) override;

 private:
  struct Secure {
    std::unique_ptr<TlsSession> session;
    std::string unsent;  // ciphertext the socket has not taken yet
    // Set once the listener has heard the end (a failed handshake, a
    // refused check or the stream's end); nothing more is reported.
    bool failed = false;
  };

  void lookupFinished(int lookup, const std::vector<Ipv4Address>& addresses) override;
  void socketConnected(int socket, int error) override;
  void socketWritable(int socket) override;
  void socketReceived(int socket, std::string_view bytes) override;
  void socketClosed(int socket, int error) override;

  Secure* find(int socket);
  // Sends what the session has for the peer; false when the socket failed.
  bool flush(int socket, Secure& secure);
  void advanceHandshake(int socket);
  void deliverPlain(int socket);

  TransportListener* listener_ = nullptr;
  std::unique_ptr<AsyncTransport> inner_;
  std::unordered_map<int, Secure> secure_;
  // Failures of sockets the listener has not closed yet.
  std::unordered_map<int, std::string> failures_;
  std::string plain_;
};

}  // namespace platform
