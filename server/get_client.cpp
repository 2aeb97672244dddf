#include "server/get_client.h"

#include <algorithm>

#include "platform/error_words.h"
#include "platform/free_memory.h"
#include "platform/socket_transport.h"
#include "platform/tls_transport.h"
#include "replies/json_func.h"
#include "server/chunked_body.h"
#include "sys/text_codec.h"

namespace server {
namespace {

constexpr std::chrono::milliseconds kTimeout{8000};
// From this size on, a reply's handling is worth giving memory back after.
constexpr size_t kLargeReplyBytes = 1024 * 1024;

bool blank(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

// The server expects exactly these lines; Host carries the name alone, never
// the port.
std::string requestText(const std::string& pathAndQuery, const std::string& host) {
  return "GET " + pathAndQuery + " HTTP/1.1\r\nAccept: */*\r\nConnection: Close\r\nHost: " + host +
         "\r\n\r\n";
}

const char kOversizedText[] = "error:Reply larger than 32 MiB";

const std::string& timeoutText() {
  static const std::string text = text::utf8ToGbk("error:无法获取数据关闭");
  return text;
}

}  // namespace

GetClient::GetClient()
    : GetClient(std::make_unique<platform::TlsTransport>(std::make_unique<platform::SocketTransport>())) {}

GetClient::GetClient(std::unique_ptr<platform::AsyncTransport> transport) : transport_(std::move(transport)) {
  transport_->setListener(this);
  timeout_.setInterval(kTimeout);
  QObject::connect(&timeout_, &QTimer::timeout, [this] {
    deliver(timeoutText(), "no answer within " + std::to_string(timeout_.interval() / 1000) + " s");
  });
}

GetClient::~GetClient() { transport_->setListener(nullptr); }

void GetClient::setServer(const std::string& host, int port, bool secure) {
  host_ = host;
  port_ = port;
  secure_ = secure;
}

void GetClient::setReplyHandler(ReplyHandler handler) { handler_ = std::move(handler); }

void GetClient::setTimeoutInterval(std::chrono::milliseconds interval) { timeout_.setInterval(interval); }

void GetClient::deliver(const std::string& text, const std::string& failure) {
  // The handler may install another handler while it runs; keep this one
  // alive until it returns.
  if (requestLog_) {
    // A failure names where it went and why, in English words only.
    if (!failure.empty())
      requestLog_("GET " + host_ + ":" + std::to_string(port_) + lastPathAndQuery_ + " failed: " + failure);
    else
      requestLog_("GET " + lastPathAndQuery_ + " answered, " + std::to_string(text.size()) + " bytes");
  }
  ReplyHandler handler = handler_;
  if (handler) handler(text);
}

void GetClient::abandon() {
  connected_ = false;
  if (lookup_ > 0) transport_->cancelLookup(lookup_);
  if (socket_ > 0) transport_->closeSocket(socket_);
  lookup_ = -1;
  socket_ = -1;
  unsent_.clear();
  dropReply();
}

void GetClient::dropReply() {
  // Gives the memory back: a large reply must not stay held until the next.
  std::string().swap(received_);
  headersRead_ = false;
  framedSize_.reset();
}

void GetClient::startRequest(const std::string& pathAndQuery) {
  if (blank(host_)) {
    deliver("error:Host is nil", "no server address is set");
    return;
  }
  abandon();
  timeout_.start();
  lastPathAndQuery_ = pathAndQuery;
  if (requestLog_) requestLog_("GET " + host_ + ":" + std::to_string(port_) + pathAndQuery);
  socket_ = transport_->openSocket();
  if (socket_ < 0) {
    deliver("error:Init Socket Failed!", "no socket could be made");
    return;
  }
  lookup_ = transport_->startLookup(host_);
  if (lookup_ < 0) deliver("error:Faild when ASyncGetHostName!", "the name lookup could not start");
}

void GetClient::finishRequest(const std::string& replyText) {
  timeout_.stop();
  if (Json_Func::ExtractJsonPart(replyText).empty()) {
    abandon();
  } else if (answeredNotice_) {
    answeredNotice_();
  }
}

void GetClient::lookupFinished(int lookup, const std::vector<platform::Ipv4Address>& addresses) {
  if (lookup != lookup_) return;
  lookup_ = -1;
  if (addresses.empty()) {
    deliver("error:[Resolve Host Failed!]", "name not found");
    return;
  }
  if (!transport_->watchSocket(socket_)) {
    deliver("error:Set Seocket Async Failed!", "the socket could not be watched");
    return;
  }
  int error = secure_ ? transport_->connectSecure(socket_, addresses.front(), port_, host_)
                      : transport_->connect(socket_, addresses.front(), port_);
  if (error != 0)
    deliver("error:Connect Failed, Error :" + std::to_string(error), platform::errorInWords(error));
}

void GetClient::socketConnected(int socket, int error) {
  if (socket != socket_) return;
  if (error != 0) {
    // A refused or reset attempt is a failure now, not eight seconds later;
    // so is a server whose certificate failed a check (the reason in words).
    const std::string refused = transport_->securityFailure(socket);
    if (refused.empty())
      deliver("error:Connect Failed, Error :" + std::to_string(error), platform::errorInWords(error));
    else
      deliver("error:" + refused, refused);
    return;
  }
  connected_ = true;
  dropReply();
  unsent_ = requestText(lastPathAndQuery_, host_);
}

void GetClient::socketWritable(int socket) {
  if (socket != socket_ || !connected_ || unsent_.empty()) return;
  long sent = transport_->send(socket_, unsent_);
  // What the socket could not take yet goes at its next writable report.
  if (sent > 0) unsent_.erase(0, static_cast<size_t>(sent));
}

void GetClient::socketReceived(int socket, std::string_view bytes) {
  if (socket != socket_) return;
  if (received_.size() + bytes.size() > kMaxReplyBytes) {
    refuseOversizedReply();
    return;
  }
  const size_t before = received_.size();
  // Grown by doubling, but never beyond the cap: a reply near it must not
  // hold twice its size.
  if (before + bytes.size() > received_.capacity())
    received_.reserve(std::min(kMaxReplyBytes, std::max(received_.capacity() * 2, before + bytes.size())));
  received_.append(bytes);
  if (!headersRead_) {
    const size_t end = received_.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
    if (end == std::string::npos) return;
    headersRead_ = true;
    framedSize_ = framedResponseSize(std::string_view(received_).substr(0, end + 4));
    if (framedSize_ && *framedSize_ > kMaxReplyBytes) {
      refuseOversizedReply();
      return;
    }
  }
  // A server (or proxy) that keeps the connection open despite "Connection:
  // Close" has still said all it will once the announced body is here.
  if (framedSize_ && received_.size() >= *framedSize_) {
    received_.resize(*framedSize_);
    replyComplete(socket);
  }
}

void GetClient::socketClosed(int socket, int) {
  if (socket != socket_) return;
  replyComplete(socket);
}

void GetClient::replyComplete(int socket) {
  // Decoded as a whole, so a character split between two reads (or two
  // chunks) stays intact.
  std::string reply = text::utf8ToGbk(joinChunkedBody(received_));
  // The connection ends before the handler runs: a handler that waits in a
  // message box runs the event loop, and a connection still open (the
  // server had not closed it yet) would report again meanwhile.
  transport_->closeSocket(socket);
  socket_ = -1;
  connected_ = false;
  unsent_.clear();
  dropReply();
  // A large reply leaves its parse, its rows and its copies freed all over
  // the heap; what the handler no longer holds goes back to the system.
  if (reply.size() >= kLargeReplyBytes) platform::releaseFreeMemorySoon();
  deliver(reply);
}

void GetClient::refuseOversizedReply() {
  // The connection goes and the buffer with it before the handler hears;
  // the time-out runs on until the handler finishes, as after any error.
  abandon();
  deliver(kOversizedText, "reply too large (over 32 MiB)");
}

}  // namespace server
