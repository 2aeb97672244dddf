// Command line of the development server.
#pragma once

#include <string>
#include <vector>

#include "tools/devserver/switches.h"

namespace devserver {

struct Options {
  int port = 0;                // 0: any free port
  std::string dataFolder;      // empty: data in memory, uploads not kept
  std::string logPath;         // empty: no request log
  std::string prefix = "/";    // path in front of "clientInterface-"
  std::string seedPath;        // empty: the built-in seed
  bool reset = false;          // start the data base again from the seed
  bool watchStdin = false;     // stop when standard input closes
  ReplyMode defaultMode;       // switches for every request
  int slowPauseMs = 100;       // pause between the pieces of a slow reply
  bool refuseOffline = false;  // refuse lessons and pictures sent later (offLine=1)
  // HTTPS with this certificate chain and key (PEM files), both or neither;
  // the plain port then still serves, for the control endpoints.
  std::string tlsCert;
  std::string tlsKey;
  bool help = false;
};

// Reads the arguments (without the program name). On a bad argument returns
// false and says why in `error`.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

std::string helpText();

}  // namespace devserver
