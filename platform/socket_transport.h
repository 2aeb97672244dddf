// The system's own AsyncTransport: names are looked up with getaddrinfo on a
// short-lived worker thread that reports back by a queued call, and sockets
// are non-blocking IPv4 sockets watched by QSocketNotifier. Everything is
// reported on the thread that created the transport, from its event loop.
#pragma once

#include <QObject>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/async_transport.h"

class QSocketNotifier;

namespace platform {

class SocketTransport final : public AsyncTransport {
 public:
  SocketTransport();
  ~SocketTransport() override;
  SocketTransport(const SocketTransport&) = delete;
  SocketTransport& operator=(const SocketTransport&) = delete;

  void setListener(TransportListener* listener) override;
  int openSocket() override;
  int startLookup(const std::string& host) override;
  void cancelLookup(int lookup) override;
  bool watchSocket(int socket) override;
  int connect(int socket, Ipv4Address address, int port) override;
  long send(int socket, std::string_view bytes) override;
  void closeSocket(int socket) override;

 private:
  struct Mailbox;
  struct Connection {
    int fd = -1;
    bool established = false;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
  };

  Connection* find(int socket);
  void finishLookup(int lookup, const std::vector<Ipv4Address>& addresses);
  void onWritable(int socket);
  void onReadable(int socket);
  void stopWatching(Connection& connection);

  TransportListener* listener_ = nullptr;
  int nextHandle_ = 1;
  std::unordered_map<int, Connection> sockets_;
  std::unordered_set<int> lookups_;
  std::vector<char> receiveBuffer_;
  std::shared_ptr<Mailbox> mailbox_;
  // Lookup results are queued to this object, so that results still on their
  // way when the transport goes are dropped with it.
  QObject context_;
};

}  // namespace platform
