// The local date and time now, to the millisecond, for texts that carry it
// (log lines, multipart boundaries).
#pragma once

#include <ctime>

struct LocalTime {
  std::tm date{};  // local calendar fields, as localtime_r gives them
  int millis = 0;  // 0..999
};

LocalTime localTimeNow();
// The local calendar fields now, to the second.
std::tm localDateNow();
