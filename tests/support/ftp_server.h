// A real FTP server for tests and benchmarks: pyftpdlib run by Debian's
// /usr/bin/python3 on a loopback port, with its own temporary root (unless
// one is given), one user with every right, active and passive mode, and a
// log of every command line it receives.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class FtpServer {
 public:
  struct Options {
    std::string user = "teacher";
    std::string password = "secret";
    // 0: the system picks a free port.
    int port = 0;
    // Empty: a temporary folder of the server's own, removed with it.
    std::string root;
    // Bytes per second the server receives / sends per data connection;
    // 0 for no limit.
    long receiveLimit = 0;
    long sendLimit = 0;
    // false: the user may not delete files (DELE is refused with 550).
    bool mayDelete = true;
    // The first `failStores` uploads break off once `failAfterBytes` bytes
    // have arrived, as on a full disk: the data connection closes, the
    // server answers 426 and keeps the partial file.
    int failStores = 0;
    long failAfterBytes = 1 << 20;
    // true: REST is refused (502), as by a server that cannot restart uploads.
    bool refuseRest = false;
    // A certificate and its key (PEM): the server then takes "AUTH TLS"
    // (pyftpdlib's TLS handler) and, with `tlsRequired`, refuses a login
    // and transfers without it.
    std::string tlsCert;
    std::string tlsKey;
    bool tlsRequired = false;
  };

  FtpServer();
  explicit FtpServer(Options options);
  // Stops the server.
  ~FtpServer();

  // Starts the server and waits until it listens; false when it did not.
  bool start();
  // Kills the server at once, as a crash would; the root stays.
  void stop();
  bool running() const;

  int port() const { return port_; }
  const std::string& root() const { return root_; }
  const std::string& user() const { return options_.user; }
  const std::string& password() const { return options_.password; }
  // The command lines received so far, in order, without line ends.
  std::vector<std::string> commands() const;
  // Forgets the commands logged so far.
  void clearCommands();

 private:
  Options options_;
  std::unique_ptr<QTemporaryDir> rootDir_;
  QTemporaryDir workDir_;
  std::string root_;
  std::string logPath_;
  int port_ = 0;
  std::unique_ptr<QProcess> process_;
};

}  // namespace testsupport
