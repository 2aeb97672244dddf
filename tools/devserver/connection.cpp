#include "tools/devserver/connection.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace devserver {

namespace {

int portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

}  // namespace

bool shutDownConnection(int localPort, int remotePort) {
  // The library does not hand the socket to the handler; the pair of ports
  // names it uniquely on 127.0.0.1, so look through the open descriptors.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const int highest = limit.rlim_cur > 65536 ? 65536 : static_cast<int>(limit.rlim_cur);
  for (int fd = 0; fd < highest; ++fd) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || portOf(local) != localPort)
      continue;
    sockaddr_storage peer{};
    length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || portOf(peer) != remotePort)
      continue;
    return shutdown(fd, SHUT_RDWR) == 0;
  }
  return false;
}

}  // namespace devserver
