// Blocking-style TCP connections for worker threads: the FTP data
// connections and the courseware store's control connection. Every wait
// takes a time-out so that a dead peer cannot hold a worker for ever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class WaitResult { Ready, TimedOut, Failed };

class TcpStream {
 public:
  TcpStream() = default;
  explicit TcpStream(int fd) : fd_(fd) {}
  ~TcpStream();
  TcpStream(TcpStream&& other) noexcept;
  TcpStream& operator=(TcpStream&& other) noexcept;
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // Resolves `host` (IPv4) and connects within `timeoutMs`.
  bool connect(const std::string& host, uint16_t port, int timeoutMs);
  // Starts a connection to a numeric address without waiting for it;
  // endConnect() waits for the outcome.
  bool beginConnect(const std::string& address, uint16_t port);
  WaitResult endConnect(int timeoutMs);

  bool isOpen() const { return fd_ >= 0; }
  WaitResult waitReadable(int timeoutMs);
  WaitResult waitWritable(int timeoutMs);
  // Bytes read (> 0), 0 at the end of the stream, -1 on failure or when
  // nothing is there yet (wouldBlock() then tells which).
  long receive(char* buffer, size_t size);
  // Bytes taken by the socket without waiting; -1 on failure or when the
  // socket takes nothing now (wouldBlock()).
  long send(const char* data, size_t size);
  bool wouldBlock() const { return wouldBlock_; }

  // Numeric addresses of the two ends ("" when unknown).
  std::string localAddress() const;
  std::string peerAddress() const;
  // errno of the last failure and its text.
  int lastError() const { return error_; }
  std::string errorText() const;

  // Ends the sending direction so the peer sees the end of the stream.
  void shutdownSend();
  void close();

 private:
  bool fail();

  int fd_ = -1;
  int error_ = 0;
  bool wouldBlock_ = false;
};

// A listening socket for active-mode data connections.
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on a numeric IPv4 address and a port the system picks.
  bool listen(const std::string& address);
  uint16_t port() const { return port_; }
  WaitResult waitAccept(int timeoutMs);
  TcpStream accept();
  int lastError() const { return error_; }
  void close();

 private:
  int fd_ = -1;
  int error_ = 0;
  uint16_t port_ = 0;
};

// Text of an errno value, for failure messages.
std::string socketErrorText(int error);

}  // namespace platform
