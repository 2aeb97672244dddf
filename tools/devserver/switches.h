// Test switches: how the server misbehaves when answering. Defaults come
// from the command line; the control endpoint sets a mode for the next N
// requests.
#pragma once

#include <mutex>
#include <string>

namespace devserver {

struct ReplyMode {
  bool slow = false;        // body in small pieces with pauses, a UTF-8 character split
  bool silent = false;      // read the request, never answer until the server stops
  bool closeEarly = false;  // send part of the body, then close
  bool errorPage = false;   // HTTP 500 with an HTML page
  bool chunked = false;     // Transfer-Encoding: chunked
  bool big = false;         // a reply of about 5 MB
  bool endless = false;     // a reply whose body never ends
  bool hold = false;        // the whole reply, then the connection kept open
  int redirect = 0;         // answer with this 3xx status and a Location instead
  int delayMs = 0;          // wait this long before answering

  bool operator==(const ReplyMode&) const = default;
};

// Reads a comma-separated list such as "slow,chunked" or "delay=300"; "normal"
// (or an empty list) switches nothing on. Returns false on an unknown word.
bool parseModeList(const std::string& list, ReplyMode& mode, std::string& error);
// The same list written back, "" when nothing is switched on.
std::string describeMode(const ReplyMode& mode);

class Switches {
 public:
  explicit Switches(ReplyMode defaults) : defaults_(defaults) {}

  // The next `count` requests get `mode`, replacing whatever was set before;
  // a count of 0 or less goes back to the defaults. With `only` set, only
  // requests whose path holds it count (and get `mode`); the others keep
  // the defaults.
  void setNext(const ReplyMode& mode, int count, const std::string& only = {});
  // The mode of the request to `path` that has just arrived.
  ReplyMode take(const std::string& path);
  // The pending mode and how many requests it still covers, for the reply
  // of the control endpoint.
  void pending(ReplyMode& mode, int& remaining) const;

 private:
  mutable std::mutex mutex_;
  ReplyMode defaults_;
  ReplyMode next_;
  std::string only_;
  int remaining_ = 0;
};

}  // namespace devserver
