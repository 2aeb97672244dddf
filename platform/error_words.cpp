#include "platform/error_words.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace platform {

std::string errorInWords(int errorNumber) {
  switch (errorNumber) {
    case ECONNREFUSED:
      return "connection refused (nothing listens on that port)";
    case ETIMEDOUT:
      return "timed out";
    case EHOSTUNREACH:
      return "host unreachable";
    case ENETUNREACH:
      return "network unreachable";
    case ECONNRESET:
      return "connection reset";
    default:
      break;
  }
  std::string words = std::strerror(errorNumber);
  if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
  return words + " (error " + std::to_string(errorNumber) + ")";
}

}  // namespace platform
