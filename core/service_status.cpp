#include "core/service_status.h"

#include <cstdio>

#include "sys/text_codec.h"

std::string serviceStatusLine(const ClientStateRecord& state, std::optional<int> lessonSeconds,
                              int itemsWaiting, int capturesRefused) {
  std::string line =
      state.loginState ? "signed in: " + text::gbkToUtf8(state.teacherName) : std::string("signed out");
  if (lessonSeconds) {
    char time[32];
    std::snprintf(time, sizeof time, ", lesson %02d:%02d", *lessonSeconds / 60, *lessonSeconds % 60);
    line += time;
  }
  if (itemsWaiting == 0)
    line += ", nothing waiting";
  else
    line += ", " + std::to_string(itemsWaiting) + (itemsWaiting == 1 ? " item" : " items") + " waiting";
  if (capturesRefused > 0)
    line += ", " + std::to_string(capturesRefused) + (capturesRefused == 1 ? " screenshot" : " screenshots") +
            " not taken";
  return line;
}
