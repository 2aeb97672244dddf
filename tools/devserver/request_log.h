// The request log: one JSON object per line for every request the server
// receives, appended and flushed at once so a test can read what went over
// the wire while the server runs.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/devserver/multipart.h"

namespace devserver {

struct LoggedRequest {
  std::string method;
  std::string target;   // raw, undecoded
  std::string version;  // "HTTP/1.1"
  // Name and value as received. The HTTP library keeps headers sorted by
  // name, so this is its order, not the order on the wire.
  std::vector<std::pair<std::string, std::string>> headers;
  size_t bodySize = 0;
  bool multipart = false;
  Form form;                    // parts in the order they were sent (data not logged)
  std::string mode;             // the test switches applied to the reply
  std::string scheme = "http";  // "https" when it came over TLS
  // A record sent later (offLine=1): its decoded beginTime or shotTime.
  bool offLine = false;
  std::string beginTime, shotTime;
};

// The JSON line for one request (without the line end). Bytes that are not
// UTF-8 are replaced in the text fields; a part's filename is given also as
// hexadecimal ("filenameHex") because the client sends it in GBK.
std::string logLine(const LoggedRequest& request);

class RequestLog {
 public:
  RequestLog() = default;
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Opens `path` for appending; an empty path logs nothing.
  bool open(const std::string& path, std::string& error);
  void write(const LoggedRequest& request);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace devserver
