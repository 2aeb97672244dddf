// vsftpd for the FTPS tests and benchmark: a real FTPS peer with its
// defaults (session reuse required on data connections), started by the
// test with a configuration of its own on a free loopback port, in the
// foreground. Logins are anonymous into a root of the test's own, with a
// "courseware" folder the server may write. Needs root (vsftpd drops to its
// own unprivileged user) and the vsftpd program.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
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
  // Starts the server and waits until it takes connections.
  bool start();
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
  std::unique_ptr<QProcess> process_;
};

}  // namespace testsupport
