// Development server: stands in for the school's server in the demo and the
// integration tests. See --help.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "tools/devserver/data.h"
#include "tools/devserver/options.h"
#include "tools/devserver/request_log.h"
#include "tools/devserver/seed_sql.h"
#include "tools/devserver/server.h"

int main(int argc, char** argv) {
  using namespace devserver;
  // The stop signals go to one waiting thread only; every other thread,
  // including the server's workers, has them blocked. Blocked from the
  // start, so a stop that comes early is not lost either.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Options options;
  std::string error;
  if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "devserver: " << error << std::endl;
    return 2;
  }
  if (options.help) {
    std::cout << helpText();
    return 0;
  }

  std::string seed = kSeedSql;
  if (!options.seedPath.empty()) {
    std::ifstream in(options.seedPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
      std::cerr << "devserver: cannot read seed " << options.seedPath << std::endl;
      return 1;
    }
    seed = text.str();
  }
  DevData data;
  RequestLog log;
  if (!data.open(options.dataFolder, seed, options.reset, error) || !log.open(options.logPath, error)) {
    std::cerr << "devserver: " << error << std::endl;
    return 1;
  }

  DevServer server(options, data, log);
  if (!server.valid()) {
    std::cerr << "devserver: cannot use the certificate " << options.tlsCert << " with the key "
              << options.tlsKey << std::endl;
    return 1;
  }
  const int port = server.bind();
  if (port < 0) {
    std::cerr << "devserver: cannot listen on 127.0.0.1:" << options.port << std::endl;
    return 1;
  }
  std::cout << "devserver listening on 127.0.0.1:" << port;
  if (server.plainPort() > 0) std::cout << " (https; plain http on 127.0.0.1:" << server.plainPort() << ")";
  std::cout << std::endl;

  if (options.watchStdin) {
    std::thread([] {
      char buffer[256];
      while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
      }
      kill(getpid(), SIGTERM);
    }).detach();
  }

  std::atomic<bool> finished = false;
  std::thread waiter([&] {
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    // The server may not have entered its loop yet; ask until it has left it.
    while (!finished) {
      server.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  server.run();
  finished = true;
  if (waiter.joinable()) {
    // run() can also end without a signal (a failing listener); wake the waiter.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
  }
  return 0;
}
