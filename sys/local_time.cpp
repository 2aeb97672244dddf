#include "sys/local_time.h"

#include <chrono>

LocalTime localTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  LocalTime result;
  result.millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  localtime_r(&seconds, &result.date);
  return result;
}

std::tm localDateNow() { return localTimeNow().date; }
