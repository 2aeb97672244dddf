// The development server (build/bin/devserver) for tests: started on a free
// loopback port with its own temporary data folder and request log, stopped
// with the test (also when the test crashes), and its request log read back
// as entries.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// One line of the request log: one request as it arrived.
struct DevServerRequest {
  struct Part {
    std::string name;
    bool hasFilename = false;
    std::string filename;  // the raw bytes (GBK from the client)
    std::string contentType;
    size_t size = 0;
  };

  std::string method;
  std::string target;   // as sent, still percent-encoded
  std::string version;  // "HTTP/1.1"
  // In the HTTP library's order (sorted by name), not the order sent.
  std::vector<std::pair<std::string, std::string>> headers;
  size_t bodySize = 0;
  std::vector<Part> parts;  // multipart form parts in the order sent
  bool multipartComplete = false;
  std::string mode;    // test switches applied, "" for a normal reply
  std::string scheme;  // "http" or "https"
  // A record sent later (offLine=1): the decoded beginTime or shotTime the
  // server read.
  bool offLine = false;
  std::string beginTime, shotTime;

  // The first header of that name in any letter case; empty when missing.
  std::string header(const std::string& name) const;
  // The target up to its "?".
  std::string path() const;
};

class DevServerProcess {
 public:
  // Starts the server; `extraArgs` go on its command line, such as
  // {"--prefix", "/edu/"} or {"--mode", "slow"}.
  explicit DevServerProcess(const std::vector<std::string>& extraArgs = {});
  // Stops the server.
  ~DevServerProcess();
  DevServerProcess(const DevServerProcess&) = delete;
  DevServerProcess& operator=(const DevServerProcess&) = delete;

  static constexpr const char* kApplicationKey = "3b9d0e4a7f21c6585ad0e9b7c41f2a6d";

  bool running() const;
  int port() const { return port_; }
  // Started with --tls-cert/--tls-key: the plain HTTP port beside the HTTPS
  // one (control() and exchange() use it); 0 otherwise.
  int plainPort() const { return plainPort_; }
  std::string host() const { return "127.0.0.1"; }
  // Holds devserver.db and screens/<processID>/<n>.jpg.
  std::string dataDir() const;
  std::string logPath() const;

  // The requests logged so far, in order (control requests are not logged).
  std::vector<DevServerRequest> requests() const;
  // Runs the event loop until at least `count` requests are logged.
  bool waitForRequests(size_t count, int timeoutMs = 10000) const;

  // GET of a control endpoint, e.g. control("mode?set=silent&count=1") or
  // control("lesson?hardDiskID=D1&teacherID=2001&timeDiff=125"); returns
  // the reply body, empty on failure. Blocks.
  std::string control(const std::string& pathAndQuery) const;
  // Sends `request` as it stands and returns the whole raw response (status
  // line, headers and body) once the server closes, or what arrived within
  // `timeoutMs`. Blocks.
  std::string exchange(const std::string& request, int timeoutMs = 10000) const;
  // A GET of `target` written the way the client writes it.
  std::string get(const std::string& target, int timeoutMs = 10000) const;

  // SIGTERM, then waits; returns the exit code, or -1 when the server had
  // to be killed or did not end normally.
  int stop(int timeoutMs = 10000);

 private:
  QTemporaryDir dir_;
  std::unique_ptr<QProcess> process_;
  int port_ = -1;
  int plainPort_ = 0;
};

}  // namespace testsupport
