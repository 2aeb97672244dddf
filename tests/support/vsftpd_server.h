// vsftpd for the FTPS tests and benchmark: a real FTPS peer with its
// defaults (session reuse required on data connections), started by the
// test with a configuration of its own on a free loopback port, in the
// foreground. Logins are anonymous into a root of the test's own, with a
// "courseware" folder the server may write. Needs root (vsftpd drops to its
// own unprivileged user) and the vsftpd program.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>

namespace testsupport {

class VsftpdServer {
 public:
  // With TLS (`certificate` and `key`, PEM) required for login and data, or
  // without TLS at all when they are empty.
  VsftpdServer(const std::string& certificate, const std::string& key);
  ~VsftpdServer();

  // Whether the program is there and the process may start it.
  static bool available();
  // Limits each transfer to about `bytesPerSecond` (0: no limit); set
  // before start().
  void setMaxRate(int64_t bytesPerSecond) { maxRate_ = bytesPerSecond; }
  // Starts the server and waits until it takes connections. After stop(),
  // starts it again on a new port over the same root.
  bool start();
  // Kills the server and every session it runs at once, as a crash or a
  // power cut would: transfers in progress break off where they are.
  void stop();
  // vsftpd's own log: each command and reply, and a line per transfer.
  std::string log() const;
  int port() const { return port_; }
  // The server's root folder as the store names it: "/courseware/..." is
  // root() + "/courseware/...".
  std::string root() const { return root_.path().toStdString(); }
  std::string user() const { return "anonymous"; }
  std::string password() const { return "teacher@school"; }

 private:
  std::string certificate_;
  std::string key_;
  QTemporaryDir root_;
  QTemporaryDir work_;
  int port_ = 0;
  int64_t maxRate_ = 0;
  std::unique_ptr<QProcess> process_;
};

}  // namespace testsupport
