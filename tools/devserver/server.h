// The HTTP side: routes the client interface and the control endpoints,
// logs each request, applies the test switches and sends the reply.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>

#include "tools/devserver/data.h"
#include "tools/devserver/operations.h"
#include "tools/devserver/options.h"
#include "tools/devserver/request_log.h"
#include "tools/devserver/stop_signal.h"
#include "tools/devserver/switches.h"

namespace devserver {

inline constexpr char kApplicationKey[] = "3b9d0e4a7f21c6585ad0e9b7c41f2a6d";

class DevServer {
 public:
  DevServer(const Options& options, DevData& data, RequestLog& log);

  // Binds 127.0.0.1 at the configured port (and, with TLS, a plain port
  // beside it); returns the port, or -1.
  int bind();
  // The plain port beside the HTTPS one, 0 without TLS.
  int plainPort() const { return plainPort_; }
  // False when the certificate or key could not be read.
  bool valid() const { return server_->is_valid(); }
  // Serves until stop() is called.
  void run();
  // Safe from any thread and more than once; releases held requests.
  void stop();

 private:
  void serve(httplib::Server& server, bool tls);
  void handle(const httplib::Request& request, httplib::Response& response, const std::string& body,
              bool tls);
  Reply route(const httplib::Request& request, const Form* form, bool big);
  void control(const httplib::Request& request, httplib::Response& response);

  Options options_;
  DevData& data_;
  RequestLog& log_;
  Switches switches_;
  Operations operations_;
  StopSignal stop_;
  std::unique_ptr<httplib::Server> server_;
  // With TLS, the plain listener beside it.
  std::unique_ptr<httplib::Server> plain_;
  int plainPort_ = 0;
};

}  // namespace devserver
