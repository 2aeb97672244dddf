#include "platform/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {

ServiceNotifier::ServiceNotifier() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path != nullptr && (path[0] == '/' || path[0] == '@') &&
      std::strlen(path) < sizeof(sockaddr_un::sun_path))
    socketPath_ = path;
  // The watchdog is meant for this process only when WATCHDOG_PID, if set,
  // names it.
  const char* usec = std::getenv("WATCHDOG_USEC");
  const char* pid = std::getenv("WATCHDOG_PID");
  if (usec != nullptr && (pid == nullptr || std::strtoll(pid, nullptr, 10) == ::getpid())) {
    const long long micro = std::strtoll(usec, nullptr, 10);
    if (micro > 0) watchdogInterval_ = std::chrono::milliseconds(std::max(1LL, micro / 2000));
  }
}

bool ServiceNotifier::send(const std::string& state) const {
  if (socketPath_.empty()) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketPath_.size());
  if (socketPath_[0] == '@') {
    address.sun_path[0] = '\0';  // abstract namespace: no terminating NUL
  } else {
    length += 1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), length);
  ::close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

}  // namespace platform
