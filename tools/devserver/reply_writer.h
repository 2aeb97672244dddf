// Sends a reply the way the test switches ask: whole, slowly in pieces,
// chunked, cut off half-way, or as the server's error page.
#pragma once

#include <httplib.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/devserver/stop_signal.h"
#include "tools/devserver/switches.h"

namespace devserver {

struct Reply {
  int status = 200;
  std::string contentType;
  std::string body;
};

inline constexpr char kJsonType[] = "application/json;charset=UTF-8";

// An HTML page with no JSON in it, as a web server shows for an error.
Reply htmlPage(int status, const std::string& title, const std::string& text);

// How a body is cut when it goes out in pieces: the sizes, in order, each at
// least one byte, adding up to the body's size. The first cut falls right
// after the lead byte of the first multi-byte UTF-8 character, so a reader
// that decodes piece by piece breaks that character; the rest is cut into
// pieces of equal size so that there are at most `maxPieces` in all.
std::vector<size_t> pieceSizes(std::string_view body, size_t maxPieces);

void deliver(httplib::Response& response, Reply reply, const ReplyMode& mode, int slowPauseMs,
             StopSignal& stop);

}  // namespace devserver
