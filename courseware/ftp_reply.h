// Reading what an FTP server answers: the reply framing, the reply code, the
// passive-mode port and the size of a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ftp {

struct Reply {
  int code = 0;      // the first three characters as a number; 0 when they are none
  std::string text;  // the whole reply, every line with its line end
};

// Collects the bytes of a control connection and hands out whole replies.
// A server may split one reply over several reads, put two replies in one
// read, or send a multi-line reply ("220-...", ..., "220 ..."); each comes
// out exactly once and whole.
class ReplyReader {
 public:
  void feed(std::string_view bytes);
  std::optional<Reply> next();
  void clear() { pending_.clear(); }

 private:
  std::string pending_;
};

// The number in the first three characters of a reply; 0 when they are not
// three decimal digits.
int replyCode(std::string_view reply);

// The data port of a "227" reply: going backwards, the last ")" and the two
// last "," before it enclose the last two numbers p1 and p2, and the port is
// (p1 * 256 + p2) modulo 65536. Nothing when those fields are not numbers
// or the port would be 0.
std::optional<uint16_t> parsePassivePort(std::string_view reply);

// The size in a "213" reply: the decimal number between the first blank and
// the line end, 64-bit. Nothing when it is not such a number.
std::optional<int64_t> parseSizeReply(std::string_view reply);

}  // namespace ftp
