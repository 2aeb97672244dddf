#include "courseware/ftp_reply.h"

#include <charconv>

namespace ftp {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number of at most 18 digits (so it fits in 64 bits), with
// blanks around it allowed.
std::optional<int64_t> decimal(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || !isDigit(text.front())) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

int replyCode(std::string_view reply) {
  if (reply.size() < 3 || !isDigit(reply[0]) || !isDigit(reply[1]) || !isDigit(reply[2])) return 0;
  return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

void ReplyReader::feed(std::string_view bytes) { pending_.append(bytes); }

std::optional<Reply> ReplyReader::next() {
  size_t lineEnd = pending_.find('\n');
  if (lineEnd == std::string::npos) return std::nullopt;
  size_t end = lineEnd + 1;
  int code = replyCode(pending_);
  // "ddd-" opens a multi-line reply that the line starting "ddd " closes.
  if (code != 0 && pending_.size() > 3 && pending_[3] == '-') {
    std::string closing = pending_.substr(0, 3) + " ";
    for (;;) {
      if (pending_.compare(end, 4, closing) == 0) {
        size_t last = pending_.find('\n', end);
        if (last == std::string::npos) return std::nullopt;
        end = last + 1;
        break;
      }
      size_t following = pending_.find('\n', end);
      if (following == std::string::npos) return std::nullopt;
      end = following + 1;
    }
  }
  Reply reply{code, pending_.substr(0, end)};
  pending_.erase(0, end);
  return reply;
}

std::optional<uint16_t> parsePassivePort(std::string_view reply) {
  size_t close = reply.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  size_t lastComma = reply.rfind(',', close);
  if (lastComma == std::string_view::npos || lastComma == 0) return std::nullopt;
  size_t previousComma = reply.rfind(',', lastComma - 1);
  if (previousComma == std::string_view::npos) return std::nullopt;
  auto p1 = decimal(reply.substr(previousComma + 1, lastComma - previousComma - 1));
  auto p2 = decimal(reply.substr(lastComma + 1, close - lastComma - 1));
  if (!p1 || !p2) return std::nullopt;
  // Reduced first so that long numbers cannot overflow.
  auto port = static_cast<uint16_t>(((*p1 % 256) * 256 + *p2 % 65536) % 65536);
  if (port == 0) return std::nullopt;
  return port;
}

std::optional<int64_t> parseSizeReply(std::string_view reply) {
  size_t blank = reply.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  size_t lineEnd = reply.find("\r\n", blank);
  if (lineEnd == std::string_view::npos) lineEnd = reply.find('\n', blank);
  if (lineEnd == std::string_view::npos) lineEnd = reply.size();
  return decimal(reply.substr(blank + 1, lineEnd - blank - 1));
}

}  // namespace ftp
