// The asynchronous HTTP GET client that carries every read from the server.
// One request at a time, one TCP connection per request; a new request
// abandons the one still in flight. The whole response (status line, headers
// and body, a chunked body joined, decoded from UTF-8 to GBK) or an "error:"
// text goes to the one reply handler that the caller installs right before
// each request. A reply is whole when the server closes or, when its headers
// carry a Content-Length, once that many body bytes have come. A reply of
// more than 32 MiB ends the request with an "error:" text. Runs on the event loop of the thread that created
// it and never blocks it.
//
// The program has three, independent of one another: the status window's
// (lent to the main panel's pages, the picker and the catalog page), the
// upload queue's (which also asks for the running lesson after a login) and
// offline delivery's own.
#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/async_transport.h"

namespace server {

class GetClient final : private platform::TransportListener {
 public:
  // The largest reply taken; no server reply the client reads comes near it.
  static constexpr size_t kMaxReplyBytes = 32 * 1024 * 1024;

  using ReplyHandler = std::function<void(const std::string& replyText)>;

  // With the system's sockets.
  GetClient();
  // With another transport (tests drive the client through a scripted one).
  explicit GetClient(std::unique_ptr<platform::AsyncTransport> transport);
  ~GetClient() override;
  GetClient(const GetClient&) = delete;
  GetClient& operator=(const GetClient&) = delete;

  // Where requests go: the server host as the user gave it and its port,
  // and whether it is an https server (then every request goes over TLS,
  // checked against the process's trust settings, and never in clear).
  // Read when a request starts (host) and when it connects (port, secure).
  void setServer(const std::string& host, int port, bool secure = false);

  // The reply slot: the handler stays until it is replaced and receives
  // every reply and error text of the requests that follow.
  void setReplyHandler(ReplyHandler handler);

  // Starts GET `pathAndQuery` and returns at once. With no server host the
  // handler receives "error:Host is nil" before this returns.
  void startRequest(const std::string& pathAndQuery);
  // The completion step every reply handler calls first, with the text it
  // received (or its JSON part): stops the time-out and, when the text holds
  // no JSON part, abandons the request.
  void finishRequest(const std::string& replyText);

  const std::string& lastPathAndQuery() const { return lastPathAndQuery_; }

  // Called by finishRequest whenever the server has answered (the text held
  // a JSON part): records kept for later can go now.
  void setAnsweredNotice(std::function<void()> notice) { answeredNotice_ = std::move(notice); }

  // The diagnostic log's view of this client: a line as each request starts
  // ("GET host:port/path?query") and one as its reply or error text reaches
  // the handler, so an admin can read what was asked and what came back.
  using RequestLog = std::function<void(const std::string& line)>;
  void setRequestLog(RequestLog log) { requestLog_ = std::move(log); }

  // The time-out repeats every 8 seconds until finishRequest or a new
  // request; tests shorten it.
  void setTimeoutInterval(std::chrono::milliseconds interval);
  bool timeoutRunning() const { return timeout_.isActive(); }

 private:
  void lookupFinished(int lookup, const std::vector<platform::Ipv4Address>& addresses) override;
  void socketConnected(int socket, int error) override;
  void socketWritable(int socket) override;
  void socketReceived(int socket, std::string_view bytes) override;
  void socketClosed(int socket, int error) override;

  // `failure` says in words why no reply came (for the log); empty for a
  // reply.
  void deliver(const std::string& text, const std::string& failure = {});
  void abandon();
  void dropReply();
  void replyComplete(int socket);
  void refuseOversizedReply();

  ReplyHandler handler_;
  std::function<void()> answeredNotice_;
  RequestLog requestLog_;
  std::string host_;
  int port_ = 80;
  bool secure_ = false;
  std::string lastPathAndQuery_;
  int socket_ = -1;
  int lookup_ = -1;
  bool connected_ = false;
  std::string unsent_;
  std::string received_;
  // Set once the headers of the reply have come: whether they frame the
  // body with a Content-Length, and the whole reply's size then.
  bool headersRead_ = false;
  std::optional<size_t> framedSize_;
  QTimer timeout_;
  // Last, so that it goes first and reports nothing to a half-destroyed
  // client.
  std::unique_ptr<platform::AsyncTransport> transport_;
};

}  // namespace server
