#include "tools/devserver/clock_text.h"

#include <cstdio>
#include <ctime>

namespace devserver {

std::string localTimeText(std::chrono::system_clock::time_point when, bool withMilliseconds) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  std::string result = text;
  if (withMilliseconds) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
    result += fraction;
  }
  return result;
}

}  // namespace devserver
