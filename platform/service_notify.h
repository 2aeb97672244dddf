// Telling the service manager how the client is: the readiness and watchdog
// datagrams of systemd's notify protocol, sent straight to the socket named
// in $NOTIFY_SOCKET (no library needed). Without that variable (started by
// hand, or by a session without a user manager) nothing is sent.
#pragma once

#include <chrono>
#include <string>

namespace platform {

class ServiceNotifier {
 public:
  // Reads $NOTIFY_SOCKET and $WATCHDOG_USEC once.
  ServiceNotifier();

  bool active() const { return !socketPath_.empty(); }
  // How often the manager wants to hear "WATCHDOG=1" (half its watchdog
  // time); zero when it watches nothing.
  std::chrono::milliseconds watchdogInterval() const { return watchdogInterval_; }

  // Sends one datagram of "KEY=value" lines ("READY=1", "WATCHDOG=1",
  // "STATUS=..."); false when there is no socket or it was not taken.
  bool send(const std::string& state) const;

 private:
  std::string socketPath_;  // "@..." names an abstract socket
  std::chrono::milliseconds watchdogInterval_{0};
};

}  // namespace platform
