// An event-driven TCP client for control connections: it never blocks, and
// its events (bytes read, an error, the peer's close) run on the event loop
// of the thread that created it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class EventSocket {
 public:
  // The kinds of socket error the caller tells apart.
  enum class ErrorKind { General, Send, Receive, Connect, Disconnect, Accept, Lookup };

  EventSocket();
  ~EventSocket();
  EventSocket(const EventSocket&) = delete;
  EventSocket& operator=(const EventSocket&) = delete;

  // Bytes the peer sent, as they arrive.
  std::function<void(const std::string& bytes)> onRead;
  // A failure; the code is the errno value behind it.
  std::function<void(ErrorKind kind, int code)> onError;
  // The peer closed the connection.
  std::function<void()> onClosed;

  // Starts the lookup and connection; does nothing while already open.
  void open(const std::string& host, uint16_t port);
  // True from open() until close() or the connection's end.
  bool isOpen() const;
  // Queues bytes; they go out once the connection stands.
  void send(const std::string& bytes);
  void close();
  // Numeric address of the server once connected ("" before).
  std::string peerAddress() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
