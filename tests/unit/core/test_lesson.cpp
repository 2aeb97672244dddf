// The lesson on the status window: the class timer's display and limit, the
// lock timer, the screenshot timer and the resume of a running lesson.
#include "tests/unit/core/status_window_fixture.h"

namespace {

using Calls = std::vector<std::string>;

TEST_F(StatusWindowTest, ClassTimerShowsMinutesAndSecondsAndStopsAtFortyMinutes) {
  struct Case {
    int elapsed;
    const char* shown;
    bool stillRunning;
  } cases[] = {{0, "00:00", true},     {9, "00:09", true},      {125, "02:05", true},
               {599, "09:59", true},   {600, "10:00", true},    {2399, "39:59", true},
               {2400, "40:00", false}, {6000, "100:00", false}, {-30, "00:00", true}};
  for (const auto& c : cases) {
    form->stopLesson();
    resumeLesson(c.elapsed);
    form->Timer1Timer();
    EXPECT_EQ(label("Label2"), c.shown) << c.elapsed;
    EXPECT_EQ(form->isLessonRunning(), c.stillRunning) << c.elapsed;
    EXPECT_EQ(timer("Timer3")->isActive(), c.stillRunning) << c.elapsed;
    EXPECT_EQ(timer("Timer4")->isActive(), !c.stillRunning) << c.elapsed;
    EXPECT_EQ(lesson->elapsedSeconds(), c.stillRunning ? std::max(c.elapsed, 0) + 1 : 0) << c.elapsed;
  }
}

TEST_F(StatusWindowTest, LampBlinksWhileTheLessonRunsAndKeepsItsLastColour) {
  const QColor lime(0, 255, 0), red(255, 0, 0);
  TShape* lamp = child<TShape>("Shape1");
  startLesson();
  form->Timer1Timer();
  EXPECT_EQ(lamp->brushColor(), red);
  form->Timer1Timer();
  EXPECT_EQ(lamp->brushColor(), lime);
  form->Timer1Timer();
  form->stopLesson();
  EXPECT_EQ(lamp->brushColor(), red);
}

TEST_F(StatusWindowTest, AfterTheLimitTheScreenLocksUnlessANewLessonStartsAtZero) {
  form->loginMessage(login());
  resumeLesson(2400);
  form->Timer1Timer();
  ASSERT_TRUE(timer("Timer4")->isActive());
  EXPECT_EQ(timer("Timer4")->interval(), 600000);
  EXPECT_EQ(label("Label2"), "40:00");

  // Ten minutes later the change-teacher action runs once.
  calls.clear();
  form->Timer4Timer();
  EXPECT_FALSE(timer("Timer4")->isActive());
  EXPECT_EQ(calls, (Calls{"kill LockScreen.exe", "delay 500", "start LockScreen.exe"}));

  // A new lesson within the ten minutes cancels the lock and counts from 00:00.
  resumeLesson(2400);
  form->Timer1Timer();
  ASSERT_TRUE(timer("Timer4")->isActive());
  startLesson();
  EXPECT_FALSE(timer("Timer4")->isActive());
  form->Timer1Timer();
  EXPECT_EQ(label("Label2"), "00:00");
}

TEST_F(StatusWindowTest, ScreenshotTimerCountsThePictureAndCallsTheTaker) {
  form->loginMessage(login("0", "30"));
  EXPECT_EQ(timer("Timer3")->interval(), 60000);
  startLesson();
  calls.clear();
  form->Timer3Timer();
  form->Timer3Timer();
  EXPECT_EQ(calls, (Calls{"screenshot 2", "screenshot 3"}));
  form->stopLesson();
  EXPECT_EQ(lesson->screenshotCounter(), 1);
}

std::string lessonReply(const std::string& teachers, const std::string& time = "\"true\"",
                        int timeDiff = 125) {
  std::string records;
  for (const char teacher : teachers) {
    if (!records.empty()) records += ",";
    records +=
        std::string("{\"teacherID\":\"T") + teacher +
        "\",\"userName\":\"张明\",\"mobile\":\"13800000000\",\"schoolID\":\"S02\","
        "\"schoolName\":\"二中\",\"gradeID\":\"G7\",\"gradeName\":\"七年级\",\"classesID\":\"K3\","
        "\"classesName\":\"三班\",\"subjectID\":\"U5\",\"subjectName\":\"数学\",\"processID\":\"PRC9\","
        "\"beginTime\":\"2024-05-06 09:05:00\",\"timeDiff\":" +
        std::to_string(timeDiff) + "}";
  }
  // The GET client hands over GBK text.
  return text::utf8ToGbk("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n{\"status\":\"ok\",\"time\":" +
                         time + ",\"jsonData\":[" + records + "]}");
}

TEST_F(StatusWindowTest, ResumeTakesUpTheFirstLessonOnlyWhenItIsThisTeachers) {
  struct Case {
    const char* name;
    std::string reply;
    bool resumed;
    bool running;
  } cases[] = {
      {"same teacher", lessonReply("1"), true, true},
      {"first is another teacher", lessonReply("21"), false, false},
      {"no lesson", lessonReply(""), false, true},
      {"time false", lessonReply("1", "\"false\""), false, true},
      {"no JSON part", "HTTP/1.1 500 Internal Server Error\r\n\r\n<html>", false, true},
      {"time-out", text::utf8ToGbk("error:无法获取数据关闭"), false, true},
  };
  for (const auto& c : cases) {
    SetUp();
    form->loginMessage(login().replace(login().find("T1001"), 5, "T1"));
    // A lesson started meanwhile on this computer goes on unless the server
    // names another teacher.
    startLesson();
    calls.clear();

    form->resumeReply(c.reply);

    EXPECT_EQ(form->isLessonRunning(), c.running) << c.name;
    EXPECT_EQ(timer("Timer3")->isActive(), c.running) << c.name;
    EXPECT_FALSE(timer("Timer4")->isActive()) << c.name;
    EXPECT_FALSE(queueClient.timeoutRunning()) << c.name;
    if (!c.resumed) {
      EXPECT_EQ(lesson->processID(), "") << c.name;
      continue;
    }
    EXPECT_EQ(calls, (Calls{"lessonResumed 2024-05-06 09:05:00"}));
    EXPECT_EQ(ClientState.teacherName, text::utf8ToGbk("张明"));
    EXPECT_EQ(ClientState.schoolName, text::utf8ToGbk("二中"));
    EXPECT_EQ(lesson->classID(), "K3");
    EXPECT_EQ(lesson->room().className, text::utf8ToGbk("三班"));
    EXPECT_EQ(lesson->room().subjectName, text::utf8ToGbk("数学"));
    EXPECT_EQ(lesson->processID(), "PRC9");
    EXPECT_EQ(lesson->screenshotCounter(), 1);
    EXPECT_EQ(label("Label1"), "张明 老师");
    form->Timer1Timer();
    EXPECT_EQ(label("Label2"), "02:05");
  }
}

TEST_F(StatusWindowTest, ResumeCountsANegativeElapsedTimeFromZeroAndIgnoresASignedOutTeacher) {
  form->loginMessage(login().replace(login().find("T1001"), 5, "T1"));
  form->resumeReply(lessonReply("1", "\"true\"", -300));
  ASSERT_TRUE(form->isLessonRunning());
  form->Timer1Timer();
  EXPECT_EQ(label("Label2"), "00:00");

  form->loginMessage("offline");
  form->resumeReply(lessonReply("1"));
  EXPECT_FALSE(form->isLessonRunning());
  EXPECT_EQ(label("Label1"), "未登录");
}

}  // namespace
