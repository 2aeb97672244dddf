// Sequential GET requests with the client's GET client, each started from the
// previous one's reply handler, as the pages chain them. Prints the count,
// the bytes received and the time taken; bench/get_requests.sh runs it beside
// curl. With CAFILE the server is an https one whose certificate that CA
// file vouches for (bench/https_requests.sh).
//
//   bench_get_requests HOST PORT TARGET [COUNT [CAFILE]]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <string>

#include "platform/tls_trust.h"
#include "replies/json_func.h"
#include "server/get_client.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s HOST PORT TARGET [COUNT [CAFILE]]\n", argv[0]);
    return 2;
  }
  const std::string target = argv[3];
  const int count = argc > 4 ? std::stoi(argv[4]) : 1000;

  const bool secure = argc > 5;
  if (secure) {
    platform::TlsTrust trust;
    trust.caFile = argv[5];
    platform::setTlsTrust(trust);
  }
  server::GetClient client;
  client.setServer(argv[1], std::stoi(argv[2]), secure);
  int done = 0;
  size_t bytes = 0;
  std::string failure;
  client.setReplyHandler([&](const std::string& reply) {
    client.finishRequest(reply);
    if (Json_Func::ExtractJsonPart(reply).empty()) {
      failure = reply.substr(0, 200);
      app.exit(1);
      return;
    }
    bytes += reply.size();
    if (++done == count) {
      app.quit();
      return;
    }
    client.startRequest(target);
  });

  QElapsedTimer timer;
  timer.start();
  client.startRequest(target);
  int status = app.exec();
  double milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  if (status != 0) {
    std::fprintf(stderr, "request %d failed: %s\n", done + 1, failure.c_str());
    return 1;
  }
  std::printf("%d requests, %zu bytes per reply, %.1f ms\n", done, bytes / static_cast<size_t>(done),
              milliseconds);
  return 0;
}
