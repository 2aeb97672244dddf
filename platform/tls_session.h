// One TLS client connection, kept apart from any socket: ciphertext from the
// peer goes in with putIncoming, ciphertext for the peer comes out with
// takeOutgoing, so the same session serves the event-driven GET client and
// the FTP store's blocking streams alike. The handshake checks the server
// against the process's trust settings (platform/tls_trust.h) and reports a
// refusal there; nothing is written to the connection before it passes.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

class TlsSession {
 public:
  enum class Step { Done, Again, Failed };

  // A connection to `host` (a name or a dotted address, the name checked
  // against the certificate) at `port` (for the log). When `resumeFrom` is
  // given, its session is offered for resumption (an FTP data connection
  // resumes its control connection's session); otherwise the last session
  // with the same host and port is, when there is one.
  TlsSession(const std::string& host, int port, const TlsSession* resumeFrom = nullptr);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Advances the handshake: Again while it waits for the peer (send the
  // outgoing bytes, feed what arrives), Done once it has passed every check,
  // Failed with failure() saying why.
  Step handshake();
  bool established() const { return established_; }
  // Whether the handshake resumed an earlier session.
  bool resumed() const;

  void putIncoming(std::string_view ciphertext);
  // The peer's side of the connection has ended: what arrived is all.
  void peerClosed();
  bool hasOutgoing() const;
  // Whether decrypted bytes, or ciphertext not yet decrypted, wait inside
  // the session: a read may give bytes without the socket turning readable.
  bool pending() const;
  // Moves the pending ciphertext for the peer into `out` (appended).
  void takeOutgoing(std::string& out);

  // Encrypts `plain` into the outgoing bytes; false when the session failed.
  bool write(std::string_view plain);
  // Decrypted bytes: a count > 0, 0 when more ciphertext is needed, -1 at
  // the end of the stream (the peer closed) or on failure (failure() set).
  long read(char* buffer, size_t size);
  // Whether -1 from read was the peer's orderly end.
  bool endedCleanly() const { return endedCleanly_; }
  // Puts the closing alert into the outgoing bytes.
  void close();

  // Why the session failed, in words ("" while it has not).
  const std::string& failure() const { return failure_; }

 private:
  struct Handles;
  void fail(std::string why);
  void keepSession();

  std::unique_ptr<Handles> handles_;
  std::string host_;
  int port_;
  bool established_ = false;
  bool endedCleanly_ = false;
  std::string failure_;
};

}  // namespace platform
