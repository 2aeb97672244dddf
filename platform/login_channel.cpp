#include "platform/login_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>

#include "platform/runtime_dir.h"

namespace platform {

namespace {

// Senders served at once; one companion sends one message at a time.
constexpr size_t kMaxConnections = 16;
// A sender writes its frame at once; one that stays silent this long has
// nothing to say.
constexpr std::chrono::milliseconds kDefaultIdleLimit{5000};
constexpr size_t kHeaderSize = 8;

uint32_t readLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void appendLe32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string systemError(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
  // An empty path is a refused runtime folder: no address at all.
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// Whether a live receiver answers at `path`.
bool someoneListens(const sockaddr_un& address) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return live;
}

}  // namespace

std::string loginChannelPath() {
  const RuntimeDir runtime = runtimeDir();
  return runtime.usable() ? runtime.path + "/edu_main" : std::string();
}

namespace {

std::string addressProblem(const std::string& path) {
  return path.empty() ? "no usable runtime folder for the login channel" : "socket path too long: " + path;
}

}  // namespace

std::string encodeLoginFrame(uint32_t dwData, std::string_view data) {
  std::string frame;
  frame.reserve(kHeaderSize + data.size());
  appendLe32(frame, dwData);
  appendLe32(frame, static_cast<uint32_t>(data.size()));
  frame.append(data);
  return frame;
}

struct LoginChannelServer::Impl {
  struct Connection {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
    QTimer idle;
    std::string received;
    std::string unsent;
    bool peerDone = false;  // the sender has shut its side
    bool handling = false;  // a frame of this sender is being handled
    bool dead = false;
    std::chrono::steady_clock::time_point heardFrom = std::chrono::steady_clock::now();
  };

  QObject context;
  Handler handler;
  Notice notice;
  std::chrono::milliseconds idleLimit = kDefaultIdleLimit;
  std::string path;
  ino_t socketInode = 0;
  int listenFd = -1;
  std::unique_ptr<QSocketNotifier> acceptable;
  // By a number of their own: a closed connection's descriptor may come
  // back for a new one before the closed one is swept away.
  std::map<uint64_t, std::shared_ptr<Connection>> connections;
  uint64_t nextConnection = 0;

  ~Impl() {
    for (auto& [id, connection] : connections) shut(*connection);
    acceptable.reset();
    if (listenFd >= 0) ::close(listenFd);
    // Remove the socket file only while it is still ours.
    struct stat info {};
    if (!path.empty() && ::lstat(path.c_str(), &info) == 0 && info.st_ino == socketInode)
      ::unlink(path.c_str());
  }

  void tell(const std::string& what) {
    if (notice) notice(what);
  }

  void shut(Connection& connection) {
    if (connection.dead) return;
    connection.dead = true;
    connection.idle.stop();
    if (connection.readable) connection.readable->setEnabled(false);
    if (connection.writable) connection.writable->setEnabled(false);
    ::close(connection.fd);
    // Notifiers go later, never from inside their own signal.
    QMetaObject::invokeMethod(
        &context, [this] { sweep(); }, Qt::QueuedConnection);
  }

  void sweep() {
    std::erase_if(connections,
                  [](const auto& entry) { return entry.second->dead && !entry.second->handling; });
  }

  void acceptAll() {
    for (;;) {
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR) continue;
        return;  // EAGAIN: none waiting; other errors: try again at the next notice
      }
      if (connections.size() >= kMaxConnections && !dropSilentLongest()) {
        ::close(fd);
        tell("login channel: too many senders at once, one turned away");
        continue;
      }
      auto connection = std::make_shared<Connection>();
      connection->fd = fd;
      connection->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      connection->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
      connection->writable->setEnabled(false);
      connection->idle.setSingleShot(true);
      std::weak_ptr<Connection> weak = connection;
      QObject::connect(connection->readable.get(), &QSocketNotifier::activated, &context, [this, weak] {
        if (auto c = weak.lock()) receive(c);
      });
      QObject::connect(connection->writable.get(), &QSocketNotifier::activated, &context, [this, weak] {
        if (auto c = weak.lock()) flush(*c);
      });
      QObject::connect(&connection->idle, &QTimer::timeout, &context, [this, weak] {
        auto c = weak.lock();
        if (!c || c->dead) return;
        if (!c->received.empty()) tell("login channel: sender went silent in the middle of a frame");
        shut(*c);
      });
      connection->idle.start(idleLimit);
      connections.emplace(nextConnection++, std::move(connection));
    }
  }

  // Makes room for a new sender: the one silent longest goes, unless its
  // frame is being handled. Returns whether a place is free.
  bool dropSilentLongest() {
    sweep();
    if (connections.size() < kMaxConnections) return true;
    Connection* quietest = nullptr;
    for (auto& [id, c] : connections) {
      if (c->dead || c->handling) continue;
      if (quietest == nullptr || c->heardFrom < quietest->heardFrom) quietest = c.get();
    }
    if (quietest == nullptr) return false;
    tell("login channel: every place taken, the sender silent longest was dropped");
    shut(*quietest);
    sweep();
    return connections.size() < kMaxConnections;
  }

  void receive(const std::shared_ptr<Connection>& connection) {
    if (connection->dead) return;
    connection->heardFrom = std::chrono::steady_clock::now();
    char buffer[16384];
    for (;;) {
      const ssize_t n = ::recv(connection->fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        connection->received.append(buffer, static_cast<size_t>(n));
        if (connection->received.size() > kHeaderSize + kLoginFrameLimit) break;  // judged below
        continue;
      }
      if (n == 0) {
        connection->peerDone = true;
        connection->readable->setEnabled(false);
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        shut(*connection);
        return;
      }
      break;
    }
    connection->idle.start(idleLimit);
    handleFrames(connection);
  }

  void handleFrames(const std::shared_ptr<Connection>& connection) {
    Connection& c = *connection;
    while (!c.dead && c.received.size() >= kHeaderSize) {
      const uint32_t dwData = readLe32(c.received.data());
      const uint32_t size = readLe32(c.received.data() + 4);
      if (size > kLoginFrameLimit) {
        tell("login channel: frame of " + std::to_string(size) + " bytes refused, the limit is " +
             std::to_string(kLoginFrameLimit));
        shut(c);
        return;
      }
      if (c.received.size() < kHeaderSize + size) break;
      const std::string data = c.received.substr(kHeaderSize, size);
      c.received.erase(0, kHeaderSize + size);
      // While this sender's frame is handled its further bytes wait, so its
      // frames are handled in order even when the handler runs a nested loop.
      c.handling = true;
      c.readable->setEnabled(false);
      c.idle.stop();
      {
        // The sender gets its answer even when the handler throws (a
        // database error on its way to the event loop's guard).
        AnswerWhenHandled answer{this, connection};
        if (handler) handler(dwData, data);
      }
      if (c.dead) return;
    }
    if (c.dead) return;
    if (c.peerDone && c.unsent.empty()) {
      if (!c.received.empty()) tell("login channel: sender closed in the middle of a frame");
      shut(c);
    }
  }

  struct AnswerWhenHandled {
    Impl* impl;
    std::shared_ptr<Connection> connection;
    ~AnswerWhenHandled() {
      impl->answer(*connection);
      // Frames of this sender that came behind a failed one are handled
      // on a later turn of the loop; the socket may hold nothing more to wake us.
      if (std::uncaught_exceptions() > 0 && !connection->dead && !connection->received.empty()) {
        QMetaObject::invokeMethod(
            &impl->context,
            [impl = impl, weak = std::weak_ptr<Connection>(connection)] {
              if (auto c = weak.lock(); c && !c->dead && !c->handling) impl->handleFrames(c);
            },
            Qt::QueuedConnection);
      }
    }
  };

  void answer(Connection& c) {
    c.handling = false;
    if (c.dead) {
      sweep();
      return;
    }
    c.idle.start(idleLimit);
    appendLe32(c.unsent, 0);
    flush(c);
    if (!c.dead && !c.peerDone) c.readable->setEnabled(true);
  }

  void flush(Connection& c) {
    while (!c.dead && !c.unsent.empty()) {
      const ssize_t n = ::send(c.fd, c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL);
      if (n > 0) {
        c.unsent.erase(0, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        c.writable->setEnabled(true);
        return;
      } else {
        shut(c);  // the sender has gone; its answer has no reader
        return;
      }
    }
    if (c.dead) return;
    c.writable->setEnabled(false);
    if (c.peerDone && !c.handling) shut(c);
  }
};

LoginChannelServer::LoginChannelServer() : impl_(std::make_unique<Impl>()) {}
LoginChannelServer::~LoginChannelServer() = default;

void LoginChannelServer::setHandler(Handler handler) { impl_->handler = std::move(handler); }
void LoginChannelServer::setNotice(Notice notice) { impl_->notice = std::move(notice); }
void LoginChannelServer::setIdleLimit(std::chrono::milliseconds limit) { impl_->idleLimit = limit; }

bool LoginChannelServer::listen(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  if (impl_->listenFd >= 0) return fail("already listening");
  sockaddr_un address;
  if (!fillAddress(path, address)) return fail(addressProblem(path));
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    // Only a socket of this user's own is ever replaced: one of another
    // user's would hand them our place or theirs.
    if (!S_ISSOCK(existing.st_mode)) return fail(path + " is not a socket; it is left as it is");
    if (existing.st_uid != ::geteuid())
      return fail(path + " belongs to user " + std::to_string(existing.st_uid) + "; it is left as it is");
    if (someoneListens(address)) return fail("another receiver listens at " + path);
    ::unlink(path.c_str());  // left behind by a copy that ended
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(systemError("socket", errno));
  // The mode is given to the socket before it gets its name, so it is never
  // open to others even for a moment.
  ::fchmod(fd, 0600);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int bindError = errno;
    ::close(fd);
    return fail(systemError("bind", bindError));
  }
  ::chmod(path.c_str(), 0600);
  if (::listen(fd, SOMAXCONN) != 0) {
    const int listenError = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return fail(systemError("listen", listenError));
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) impl_->socketInode = info.st_ino;
  impl_->path = path;
  impl_->listenFd = fd;
  impl_->acceptable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(impl_->acceptable.get(), &QSocketNotifier::activated, &impl_->context,
                   [impl = impl_.get()] { impl->acceptAll(); });
  return true;
}

LoginSendResult sendLoginFrame(const std::string& path, uint32_t dwData, std::string_view data,
                               std::chrono::milliseconds timeLimit) {
  LoginSendResult result;
  sockaddr_un address;
  if (!fillAddress(path, address)) {
    result.error = addressProblem(path);
    return result;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    result.error = systemError("socket", errno);
    return result;
  }
  auto finish = [&](std::string why) {
    result.error = std::move(why);
    ::close(fd);
    return result;
  };
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return finish(systemError(("connect " + path).c_str(), errno));

  const std::string frame = encodeLoginFrame(dwData, data);
  for (size_t sent = 0; sent < frame.size();) {
    const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return finish(systemError("send", errno));
    sent += static_cast<size_t>(n);
  }

  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  std::string answer;
  while (answer.size() < 4) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return finish("no answer within " + std::to_string(timeLimit.count()) + " ms");
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return finish(systemError("poll", errno));
    if (ready == 0) continue;
    char buffer[4];
    const ssize_t n = ::recv(fd, buffer, 4 - answer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return finish(systemError("recv", errno));
    if (n == 0) return finish("the receiver closed the connection without an answer");
    answer.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  result.answered = true;
  result.answer = readLe32(answer.data());
  return result;
}

}  // namespace platform
