// A client started again in the middle of an offline lesson (the server
// still unreachable, or not knowing the lesson yet) takes it up from edu.db
// after the same teacher's login, counting from its begin time, when it is
// younger than 40 minutes.
#include <QDateTime>

#include "store/offline_store.h"
#include "tests/integration/store/edu_db_fixture.h"
#include "tests/unit/core/status_window_fixture.h"

namespace {

class OfflineTakeUp : public StatusWindowTest {
 protected:
  void keepLesson(const std::string& teacherID, int minutesAgo) {
    DB_Func::EnsureOwnTables();
    const QDateTime began = QDateTime::currentDateTime().addSecs(-60 * minutesAgo);
    DB_Func::LessonRecord lesson;
    lesson.localId = "offline-" + began.toString("yyyyMMddHHmmss").toStdString();
    lesson.teacherID = teacherID;
    lesson.schoolID = "S01";
    lesson.gradeID = "G1";
    lesson.gradeName = text::utf8ToGbk("一年级");
    lesson.classID = "K2";
    lesson.className = text::utf8ToGbk("二班");
    lesson.subjectID = "U3";
    lesson.subjectName = text::utf8ToGbk("语文");
    lesson.beginTime = began.toString("yyyy-MM-dd HH:mm:ss").toStdString();
    DB_Func::AddOfflineLesson(lesson);
    kept = lesson;
  }

  storetest::EduDb db;
  DB_Func::LessonRecord kept;
};

TEST_F(OfflineTakeUp, TheSameTeachersRecentOfflineLessonGoesOnFromItsBeginTime) {
  const struct {
    const char* name;
    std::string reply;
  } answers[] = {
      {"no answer", text::utf8ToGbk("error:无法获取数据关闭")},
      {"the server knows no lesson",
       "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"success\",\"time\":\"false\",\"jsonData\":[]}"},
  };
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer.name);
    SetUp();
    keepLesson("T1001", 5);
    form->setUploadQueueClient(nullptr);  // the answer to the login's question is handed in below
    form->loginMessage(login());
    calls.clear();
    form->resumeReply(answer.reply);

    EXPECT_TRUE(form->isLessonRunning());
    EXPECT_TRUE(timer("Timer3")->isActive());
    EXPECT_EQ(lesson->processID(), kept.localId);
    EXPECT_EQ(lesson->classID(), "K2");
    EXPECT_EQ(lesson->room().className, kept.className);
    EXPECT_EQ(lesson->room().subjectName, kept.subjectName);
    EXPECT_NEAR(lesson->elapsedSeconds(), 300, 3);
    EXPECT_EQ(calls, (std::vector<std::string>{"lessonResumed " + kept.beginTime}));
  }
}

TEST_F(OfflineTakeUp, NoTakeUpOfAnOldLessonAnotherTeachersOrWhenTheServerNamesAnother) {
  const struct {
    const char* name;
    std::string teacher;
    int minutesAgo;
    std::string reply;
  } cases[] = {
      {"40 minutes old", "T1001", 41, "error:timeout"},
      {"another teacher's", "T2", 5, "error:timeout"},
      {"the server reports another teacher's lesson", "T1001", 5,
       "HTTP/1.1 200 "
       "OK\r\n\r\n{\"status\":\"success\",\"time\":\"true\",\"jsonData\":[{\"teacherID\":\"T9\"}]}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    keepLesson(c.teacher, c.minutesAgo);
    form->setUploadQueueClient(nullptr);
    form->loginMessage(login());
    form->resumeReply(c.reply);
    EXPECT_FALSE(form->isLessonRunning());
    EXPECT_NE(lesson->processID(), kept.localId);
  }
}

}  // namespace
