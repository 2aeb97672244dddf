// The asynchronous name lookup and TCP sockets under the GET client. Nothing
// here blocks: every outcome is reported later, on the thread that owns the
// transport, to its listener. Handles of sockets and lookups are positive
// numbers that are never reused within one transport.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An IPv4 address in host byte order (127.0.0.1 is 0x7F000001).
using Ipv4Address = uint32_t;

class TransportListener {
 public:
  virtual ~TransportListener() = default;
  // The lookup has ended; an empty list means the name was not found.
  virtual void lookupFinished(int lookup, const std::vector<Ipv4Address>& addresses) = 0;
  // The connection attempt is over: error 0 when it stands, otherwise the
  // system's error number (the attempt was refused, reset or timed out).
  virtual void socketConnected(int socket, int error) = 0;
  // The socket takes data: once when the connection stands, again after a
  // send that could not take everything.
  virtual void socketWritable(int socket) = 0;
  // Bytes arrived, at most 65,536 per report.
  virtual void socketReceived(int socket, std::string_view bytes) = 0;
  // The peer closed the connection (error 0) or it broke (error number). The
  // socket stays allocated until closeSocket.
  virtual void socketClosed(int socket, int error) = 0;
};

class AsyncTransport {
 public:
  virtual ~AsyncTransport() = default;

  virtual void setListener(TransportListener* listener) = 0;
  // A new IPv4 TCP socket, or -1 when the system cannot create one.
  virtual int openSocket() = 0;
  // Starts looking up `host`, or returns -1 when the lookup cannot start.
  virtual int startLookup(const std::string& host) = 0;
  // The lookup's result, if it still comes, is dropped.
  virtual void cancelLookup(int lookup) = 0;
  // From now on the socket's events reach the listener; false on failure.
  virtual bool watchSocket(int socket) = 0;
  // Starts connecting: 0 while the attempt goes on (its end comes as
  // socketConnected), otherwise the error number of an attempt that failed
  // at once.
  virtual int connect(int socket, Ipv4Address address, int port) = 0;
  // Sends what the socket takes now: the number of bytes taken, or -1.
  virtual long send(int socket, std::string_view bytes) = 0;
  // Like connect, but the connection is TLS to `host`: socketConnected
  // comes once the handshake has passed the trust checks, or with an error
  // whose reason in words is then securityFailure(socket). Transports that
  // cannot do TLS refuse it at once.
  virtual int connectSecure(int /*socket*/, Ipv4Address /*address*/, int /*port*/,
                            const std::string& /*host*/) {
    return EPROTONOSUPPORT;
  }
  virtual std::string securityFailure(int /*socket*/) const { return {}; }
  // Closes the socket; nothing more is reported for it. Closing an unknown
  // or already closed socket does nothing.
  virtual void closeSocket(int socket) = 0;
};

}  // namespace platform
