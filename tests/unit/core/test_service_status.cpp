// The line `systemctl --user status edu-client` shows: who, the lesson's
// time, what waits, and the pictures that could not be taken.
#include <gtest/gtest.h>

#include "core/service_status.h"
#include "sys/text_codec.h"

namespace {

TEST(ServiceStatus, SaysWhoTheLessonWhatWaitsAndThePicturesNotTaken) {
  ClientStateRecord signedIn;
  signedIn.loginState = true;
  signedIn.teacherName = text::utf8ToGbk("张伟");
  const ClientStateRecord signedOut;
  const struct {
    const ClientStateRecord* state;
    std::optional<int> lessonSeconds;
    int waiting, refused;
    const char* line;
  } cases[] = {
      {&signedOut, std::nullopt, 0, 0, "signed out, nothing waiting"},
      {&signedIn, 725, 1, 0, "signed in: 张伟, lesson 12:05, 1 item waiting"},
      {&signedIn, std::nullopt, 3, 1, "signed in: 张伟, 3 items waiting, 1 screenshot not taken"},
      {&signedIn, 725, 0, 4, "signed in: 张伟, lesson 12:05, nothing waiting, 4 screenshots not taken"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(serviceStatusLine(*c.state, c.lessonSeconds, c.waiting, c.refused), c.line);
}

}  // namespace
