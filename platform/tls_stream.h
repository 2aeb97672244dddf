// A TcpStream that can turn into TLS midway, as an FTP connection does after
// "AUTH TLS" (and each data connection from its start): the same calls as
// TcpStream, sending and receiving plain bytes, with the TLS records in
// between once startTls has passed. Non-blocking like TcpStream: a send or
// receive that cannot go on now says wouldBlock(), and the waits tell when
// to try again. For worker threads.
#pragma once

#include <memory>
#include <string>

#include "platform/tcp_stream.h"
#include "platform/tls_session.h"

namespace platform {

class TlsStream {
 public:
  TlsStream() = default;
  explicit TlsStream(TcpStream stream) : tcp_(std::move(stream)) {}

  bool connect(const std::string& host, uint16_t port, int timeoutMs) {
    return tcp_.connect(host, port, timeoutMs);
  }
  bool isOpen() const { return tcp_.isOpen(); }
  bool secure() const { return session_ && session_->established(); }

  // The handshake as a TLS client of `host` (checked against the
  // certificate; `port` for the log), within `timeoutMs`. With `resumeFrom`
  // its session is resumed (an FTP data connection resumes the control
  // connection's). False with failureText() saying why.
  bool startTls(const std::string& host, int port, const TlsStream* resumeFrom, int timeoutMs);
  bool resumed() const { return session_ && session_->resumed(); }

  WaitResult waitReadable(int timeoutMs);
  WaitResult waitWritable(int timeoutMs);
  // As TcpStream's: bytes read, 0 at the end, -1 on failure or nothing yet.
  long receive(char* buffer, size_t size);
  // As TcpStream's: bytes taken, -1 on failure or nothing taken now.
  long send(const char* data, size_t size);
  bool wouldBlock() const { return wouldBlock_; }

  std::string localAddress() const { return tcp_.localAddress(); }
  std::string peerAddress() const { return tcp_.peerAddress(); }
  std::string errorText() const;
  const std::string& failureText() const { return failure_; }

  // With TLS, sends the closing alert first, so the peer can tell a whole
  // transfer from a cut one, and waits (up to `timeoutMs`) for the peer to
  // close its side. False when the alert could not be sent.
  bool shutdownSend(int timeoutMs = 10000);
  void close();

 private:
  bool flushAll(int timeoutMs);
  // Sends what the session has for the peer without waiting; false when
  // the socket failed.
  bool flush();
  // Reads what the socket has into the session: >0, 0 at the end, -1 when
  // nothing is there (or on failure).
  long pull();

  TcpStream tcp_;
  std::unique_ptr<TlsSession> session_;
  std::string outgoing_;
  std::string failure_;
  bool wouldBlock_ = false;
};

}  // namespace platform
