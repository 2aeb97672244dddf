#include "tools/devserver/switches.h"

namespace devserver {

bool parseModeList(const std::string& list, ReplyMode& mode, std::string& error) {
  ReplyMode parsed;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string word = list.substr(start, end - start);
    start = end + 1;
    if (word.empty() || word == "normal") continue;
    if (word == "slow") {
      parsed.slow = true;
    } else if (word == "silent") {
      parsed.silent = true;
    } else if (word == "close") {
      parsed.closeEarly = true;
    } else if (word == "error") {
      parsed.errorPage = true;
    } else if (word == "chunked") {
      parsed.chunked = true;
    } else if (word == "big") {
      parsed.big = true;
    } else if (word == "endless") {
      parsed.endless = true;
    } else if (word == "hold") {
      parsed.hold = true;
    } else if (word.rfind("redirect:", 0) == 0) {
      const std::string code = word.substr(9);
      if (code != "301" && code != "302" && code != "303" && code != "307" && code != "308") {
        error = "bad redirect in mode list: " + word + " (301, 302, 303, 307 or 308)";
        return false;
      }
      parsed.redirect = std::stoi(code);
    } else if (word.rfind("delay=", 0) == 0) {
      const std::string digits = word.substr(6);
      if (digits.empty() || digits.size() > 7 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        error = "bad delay in mode list: " + word;
        return false;
      }
      parsed.delayMs = std::stoi(digits);
    } else {
      error = "unknown mode: " + word +
              " (known: normal, slow, silent, close, error, chunked, big, endless, hold, redirect:CODE, "
              "delay=MS)";
      return false;
    }
  }
  mode = parsed;
  return true;
}

std::string describeMode(const ReplyMode& mode) {
  std::string text;
  auto add = [&text](const std::string& word) { text += (text.empty() ? "" : ",") + word; };
  if (mode.slow) add("slow");
  if (mode.silent) add("silent");
  if (mode.closeEarly) add("close");
  if (mode.errorPage) add("error");
  if (mode.chunked) add("chunked");
  if (mode.big) add("big");
  if (mode.endless) add("endless");
  if (mode.hold) add("hold");
  if (mode.redirect != 0) add("redirect:" + std::to_string(mode.redirect));
  if (mode.delayMs > 0) add("delay=" + std::to_string(mode.delayMs));
  return text;
}

void Switches::setNext(const ReplyMode& mode, int count, const std::string& only) {
  std::lock_guard lock(mutex_);
  next_ = mode;
  only_ = only;
  remaining_ = count > 0 ? count : 0;
}

ReplyMode Switches::take(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (remaining_ == 0 || path.find(only_) == std::string::npos) return defaults_;
  --remaining_;
  return next_;
}

void Switches::pending(ReplyMode& mode, int& remaining) const {
  std::lock_guard lock(mutex_);
  mode = remaining_ > 0 ? next_ : defaults_;
  remaining = remaining_;
}

}  // namespace devserver
