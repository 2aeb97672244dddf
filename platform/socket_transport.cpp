#include "platform/socket_transport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

// Shared between the transport and its lookup workers: a worker that ends
// after the transport has gone finds no receiver and drops its result.
struct SocketTransport::Mailbox {
  std::mutex mutex;
  SocketTransport* receiver = nullptr;
};

namespace {

constexpr size_t kReceiveSize = 65536;
// Reads per readiness report: enough to drain a fast sender without keeping
// the event loop from its timers for long.
constexpr int kReadsPerReport = 16;

// Threads that run name lookups. A lookup can hang for as long as the
// resolver waits, so each one gets a thread of its own, but a thread that has
// finished waits a while for the next lookup: starting a thread costs more
// than looking up a name from the hosts file.
class LookupThreads {
 public:
  static LookupThreads& instance() {
    // Never destroyed: idle threads may still wait on it while the process ends.
    static auto* threads = new LookupThreads;
    return *threads;
  }

  // False when no thread could be started for the job.
  bool run(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ >= jobs_.size()) {
      wake_.notify_one();
      return true;
    }
    try {
      std::thread([this] { work(); }).detach();
    } catch (const std::system_error&) {
      jobs_.pop_back();
      return false;
    }
    return true;
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      bool woken = wake_.wait_for(lock, std::chrono::seconds(10), [this] { return !jobs_.empty(); });
      --idle_;
      if (!woken) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  size_t idle_ = 0;
};

std::vector<Ipv4Address> resolve(const std::string& host) {
  std::vector<Ipv4Address> addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return addresses;
  for (addrinfo* entry = list; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || !entry->ai_addr) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    addresses.push_back(ntohl(address->sin_addr.s_addr));
  }
  freeaddrinfo(list);
  return addresses;
}

}  // namespace

SocketTransport::SocketTransport() : receiveBuffer_(kReceiveSize), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->receiver = this;
}

SocketTransport::~SocketTransport() {
  {
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->receiver = nullptr;
  }
  for (auto& [handle, connection] : sockets_) {
    stopWatching(connection);
    ::close(connection.fd);
  }
}

void SocketTransport::setListener(TransportListener* listener) { listener_ = listener; }

SocketTransport::Connection* SocketTransport::find(int socket) {
  auto it = sockets_.find(socket);
  return it == sockets_.end() ? nullptr : &it->second;
}

int SocketTransport::openSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return -1;
  int handle = nextHandle_++;
  sockets_[handle].fd = fd;
  return handle;
}

int SocketTransport::startLookup(const std::string& host) {
  int handle = nextHandle_++;
  in_addr numeric{};
  if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
    // A dotted address needs no resolver; it is still reported later, like
    // any lookup, so callers see one order of events.
    std::vector<Ipv4Address> addresses{ntohl(numeric.s_addr)};
    QMetaObject::invokeMethod(
        &context_, [this, handle, addresses] { finishLookup(handle, addresses); }, Qt::QueuedConnection);
    lookups_.insert(handle);
    return handle;
  }
  bool started = LookupThreads::instance().run([mailbox = mailbox_, handle, host] {
    std::vector<Ipv4Address> addresses = resolve(host);
    std::lock_guard lock(mailbox->mutex);
    if (!mailbox->receiver) return;
    SocketTransport* transport = mailbox->receiver;
    QMetaObject::invokeMethod(
        &transport->context_, [transport, handle, addresses] { transport->finishLookup(handle, addresses); },
        Qt::QueuedConnection);
  });
  if (!started) return -1;
  lookups_.insert(handle);
  return handle;
}

void SocketTransport::cancelLookup(int lookup) { lookups_.erase(lookup); }

void SocketTransport::finishLookup(int lookup, const std::vector<Ipv4Address>& addresses) {
  if (lookups_.erase(lookup) == 0) return;
  if (listener_) listener_->lookupFinished(lookup, addresses);
}

bool SocketTransport::watchSocket(int socket) {
  Connection* connection = find(socket);
  if (!connection) return false;
  if (connection->readNotifier) return true;
  connection->readNotifier = std::make_unique<QSocketNotifier>(connection->fd, QSocketNotifier::Read);
  connection->writeNotifier = std::make_unique<QSocketNotifier>(connection->fd, QSocketNotifier::Write);
  // Nothing is worth reporting before a connection attempt has started.
  connection->readNotifier->setEnabled(false);
  connection->writeNotifier->setEnabled(false);
  QObject::connect(connection->readNotifier.get(), &QSocketNotifier::activated, &context_,
                   [this, socket] { onReadable(socket); });
  QObject::connect(connection->writeNotifier.get(), &QSocketNotifier::activated, &context_,
                   [this, socket] { onWritable(socket); });
  return true;
}

int SocketTransport::connect(int socket, Ipv4Address address, int port) {
  Connection* connection = find(socket);
  if (!connection) return EBADF;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr.s_addr = htonl(address);
  if (::connect(connection->fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
      errno != EINPROGRESS && errno != EINTR) {
    return errno;
  }
  // The attempt ends when the socket turns writable; its outcome is read
  // from SO_ERROR there.
  if (connection->writeNotifier) connection->writeNotifier->setEnabled(true);
  return 0;
}

void SocketTransport::onWritable(int socket) {
  Connection* connection = find(socket);
  if (!connection) return;
  connection->writeNotifier->setEnabled(false);
  if (!connection->established) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(connection->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) {
      // A refused or reset attempt: report it and stay quiet, the socket is
      // of no further use.
      stopWatching(*connection);
      if (listener_) listener_->socketConnected(socket, error);
      return;
    }
    connection->established = true;
    connection->readNotifier->setEnabled(true);
    if (listener_) listener_->socketConnected(socket, 0);
    if (!find(socket)) return;
  }
  if (listener_) listener_->socketWritable(socket);
}

void SocketTransport::onReadable(int socket) {
  for (int round = 0; round < kReadsPerReport; ++round) {
    Connection* connection = find(socket);
    if (!connection || !connection->readNotifier || !connection->readNotifier->isEnabled()) return;
    ssize_t count = ::recv(connection->fd, receiveBuffer_.data(), receiveBuffer_.size(), 0);
    if (count > 0) {
      if (listener_) listener_->socketReceived(socket, std::string_view(receiveBuffer_.data(), count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    int error = count == 0 ? 0 : errno;
    stopWatching(*connection);
    if (listener_) listener_->socketClosed(socket, error);
    return;
  }
}

long SocketTransport::send(int socket, std::string_view bytes) {
  Connection* connection = find(socket);
  if (!connection) return -1;
  ssize_t sent;
  do {
    sent = ::send(connection->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  bool wouldBlock = sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  bool shortSend = wouldBlock || (sent >= 0 && static_cast<size_t>(sent) < bytes.size());
  bool watching =
      connection->established && connection->readNotifier && connection->readNotifier->isEnabled();
  if (shortSend && watching) {
    // Report writable again once the socket has room for the rest.
    connection->writeNotifier->setEnabled(true);
  }
  return sent;
}

void SocketTransport::stopWatching(Connection& connection) {
  if (connection.readNotifier) connection.readNotifier->setEnabled(false);
  if (connection.writeNotifier) connection.writeNotifier->setEnabled(false);
}

void SocketTransport::closeSocket(int socket) {
  auto it = sockets_.find(socket);
  if (it == sockets_.end()) return;
  stopWatching(it->second);
  ::close(it->second.fd);
  // May destroy the notifier whose report is running; Qt allows that.
  sockets_.erase(it);
}

}  // namespace platform
