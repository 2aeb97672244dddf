// The times an offline lesson and its records carry: a 24-hour clock, so an
// afternoon lesson is not dated in the morning.
#include <gtest/gtest.h>

#include "core/offline_records.h"

namespace {

std::tm at(int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = 2026 - 1900;
  time.tm_mon = 11;
  time.tm_mday = 10;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(OfflineRecords, TimesAndLessonIdsUseTheTwentyFourHourClock) {
  const struct {
    int hour, minute, second;
    const char* text;
    const char* id;
  } cases[] = {
      {9, 5, 0, "2026-12-10 09:05:00", "offline-20261210090500"},
      {14, 5, 9, "2026-12-10 14:05:09", "offline-20261210140509"},
      {0, 0, 0, "2026-12-10 00:00:00", "offline-20261210000000"},
      {23, 59, 59, "2026-12-10 23:59:59", "offline-20261210235959"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(offline::timeText(at(c.hour, c.minute, c.second)), c.text);
    EXPECT_EQ(offline::lessonIdAt(at(c.hour, c.minute, c.second)), c.id);
  }
}

}  // namespace
