#include "platform/tcp_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {
namespace {

// Sockets stay non-blocking; every wait is a poll() with its own time-out.
int newSocket(int family) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd;
}

WaitResult pollFor(int fd, short events, int timeoutMs, int& error) {
  if (fd < 0) {
    error = EBADF;
    return WaitResult::Failed;
  }
  pollfd entry{fd, events, 0};
  int n;
  do {
    n = ::poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    error = errno;
    return WaitResult::Failed;
  }
  if (n == 0) return WaitResult::TimedOut;
  // A hang-up or error is "ready" too: the next receive or send tells what
  // happened, and a read may still find the last bytes the peer sent.
  return WaitResult::Ready;
}

std::string addressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  }
  return text;
}

// A numeric address (IPv4 or IPv6) with a port; false when not numeric.
bool numericAddress(const std::string& address, uint16_t port, sockaddr_storage& out, socklen_t& length) {
  std::memset(&out, 0, sizeof out);
  auto& v4 = reinterpret_cast<sockaddr_in&>(out);
  if (::inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    length = sizeof v4;
    return true;
  }
  auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
  if (::inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    length = sizeof v6;
    return true;
  }
  return false;
}

}  // namespace

std::string socketErrorText(int error) { return std::strerror(error); }

TcpStream::~TcpStream() { close(); }

TcpStream::TcpStream(TcpStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_), wouldBlock_(other.wouldBlock_) {}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
    wouldBlock_ = other.wouldBlock_;
  }
  return *this;
}

bool TcpStream::fail() {
  error_ = errno;
  return false;
}

bool TcpStream::connect(const std::string& host, uint16_t port, int timeoutMs) {
  close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    error_ = EHOSTUNREACH;
    return false;
  }
  std::string address = addressText(*reinterpret_cast<sockaddr_storage*>(found->ai_addr));
  ::freeaddrinfo(found);
  if (!beginConnect(address, port)) return false;
  if (endConnect(timeoutMs) != WaitResult::Ready) {
    close();
    return false;
  }
  return true;
}

bool TcpStream::beginConnect(const std::string& address, uint16_t port) {
  close();
  sockaddr_storage target;
  socklen_t length = 0;
  if (!numericAddress(address, port, target, length)) {
    error_ = EINVAL;
    return false;
  }
  fd_ = newSocket(target.ss_family);
  if (fd_ < 0) return fail();
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&target), length) == 0 || errno == EINPROGRESS) return true;
  fail();
  close();
  return false;
}

WaitResult TcpStream::endConnect(int timeoutMs) {
  WaitResult ready = pollFor(fd_, POLLOUT, timeoutMs, error_);
  if (ready != WaitResult::Ready) {
    if (ready == WaitResult::TimedOut) error_ = ETIMEDOUT;
    return ready;
  }
  int pending = 0;
  socklen_t size = sizeof pending;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) pending = errno;
  if (pending != 0) {
    error_ = pending;
    return WaitResult::Failed;
  }
  return WaitResult::Ready;
}

WaitResult TcpStream::waitReadable(int timeoutMs) { return pollFor(fd_, POLLIN, timeoutMs, error_); }

WaitResult TcpStream::waitWritable(int timeoutMs) { return pollFor(fd_, POLLOUT, timeoutMs, error_); }

long TcpStream::receive(char* buffer, size_t size) {
  wouldBlock_ = false;
  if (fd_ < 0) {
    error_ = EBADF;
    return -1;
  }
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    error_ = errno;
    wouldBlock_ = (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return static_cast<long>(n);
}

long TcpStream::send(const char* data, size_t size) {
  wouldBlock_ = false;
  if (fd_ < 0) {
    error_ = EBADF;
    return -1;
  }
  ssize_t n;
  do {
    n = ::send(fd_, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    error_ = errno;
    wouldBlock_ = (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return static_cast<long>(n);
}

std::string TcpStream::localAddress() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "";
  return addressText(address);
}

std::string TcpStream::peerAddress() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "";
  return addressText(address);
}

std::string TcpStream::errorText() const { return socketErrorText(error_); }

void TcpStream::shutdownSend() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TcpStream::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TcpListener::~TcpListener() { close(); }

bool TcpListener::listen(const std::string& address) {
  close();
  sockaddr_storage local;
  socklen_t length = 0;
  if (!numericAddress(address, 0, local, length)) {
    error_ = EINVAL;
    return false;
  }
  fd_ = newSocket(local.ss_family);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), length) != 0 || ::listen(fd_, 1) != 0) {
    error_ = errno;
    close();
    return false;
  }
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                            : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  return true;
}

WaitResult TcpListener::waitAccept(int timeoutMs) { return pollFor(fd_, POLLIN, timeoutMs, error_); }

TcpStream TcpListener::accept() {
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return TcpStream();
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return TcpStream(fd);
}

void TcpListener::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  port_ = 0;
}

}  // namespace platform
