#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/screenshot_naming.h"
#include "core/screenshot_taker.h"
#include "state/client_state.h"
#include "sys/text_codec.h"

namespace {

std::tm at(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return time;
}

TEST(ScreenshotNaming, FileNameIsHourDotMinuteTwoUnderscoresAndCounter) {
  struct Case {
    int hour, minute, counter;
    const char* name;
  };
  for (const Case& c : std::vector<Case>{{9, 5, 2, "09.05__2.jpg"},
                                         {0, 0, 10, "00.00__10.jpg"},
                                         {23, 59, 123, "23.59__123.jpg"},
                                         {14, 30, 1, "14.30__1.jpg"}}) {
    EXPECT_EQ(screenshotFileName(at(2024, 5, 1, c.hour, c.minute), c.counter), c.name);
  }
}

TEST(ScreenshotNaming, FolderLevelsBelowTheProgramFolder) {
  const std::string name = text::utf8ToGbk("张明");
  struct Case {
    const char* what;
    std::tm date;
    std::string teacherName, teacherPhone, processID;
    std::vector<std::string> levels;
  };
  const std::vector<Case> cases{
      {"month, name and phone run together, lesson",
       at(2024, 5, 31, 9, 5),
       name,
       "13812345678",
       "P77",
       {"screen_pic", "2024-05", name + "13812345678", "P77"}},
      {"December, zero-padded month",
       at(1999, 12, 1, 0, 0),
       "Li",
       "",
       "9",
       {"screen_pic", "1999-12", "Li", "9"}},
      {"no lesson id: the picture lies in the teacher's folder",
       at(2024, 1, 1, 0, 0),
       name,
       "138",
       "",
       {"screen_pic", "2024-01", name + "138"}},
      {"nobody signed in", at(2024, 1, 1, 0, 0), "", "", "", {"screen_pic", "2024-01"}},
      // A name from the server must not lead the picture out of its folder.
      {"slashes and dots cannot climb",
       at(2024, 2, 1, 0, 0),
       "../../etc",
       "",
       "..",
       {"screen_pic", "2024-02", ".._.._etc", "__"}},
      {"a lone dot", at(2024, 2, 1, 0, 0), ".", "", "a/b", {"screen_pic", "2024-02", "_", "a_b"}},
      {"a NUL byte",
       at(2024, 2, 1, 0, 0),
       std::string("x\0y", 3),
       "",
       "P",
       {"screen_pic", "2024-02", "x_y", "P"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(screenshotFolderLevels(c.date, c.teacherName, c.teacherPhone, c.processID), c.levels) << c.what;
  }
}

TEST(ScreenshotNaming, UploadGoesToTheServerPort) {
  const std::string target = "/edu/clientInterface-postScreenShot?appKey=k&processID=1";
  EXPECT_EQ(screenshotUploadUrl("10.0.0.5", 80, false, target), "http://10.0.0.5" + target);
  EXPECT_EQ(screenshotUploadUrl("10.0.0.5", 8080, false, target), "http://10.0.0.5:8080" + target);
  EXPECT_EQ(screenshotUploadUrl("edu.school.cn", 443, false, "/x"), "http://edu.school.cn:443/x");
  EXPECT_EQ(screenshotUploadUrl("edu.school.cn", 443, true, "/x"), "https://edu.school.cn/x");
  EXPECT_EQ(screenshotUploadUrl("edu.school.cn", 80, true, "/x"), "https://edu.school.cn:80/x");
}

TEST(ScreenshotNaming, JobCarriesTheLessonValuesInTheServersOrder) {
  ClientStateRecord state;
  state.teacherName = text::utf8ToGbk("张明");
  state.teacherPhone = "138";
  state.schoolID = "S1";
  state.teacherID = "T9";
  state.diskID = "D1";
  state.serverHost = "10.0.0.5";
  state.serverPort = 8080;
  state.serverPath = "/edu/";
  LessonChoice room;
  room.gradeID = "G3";
  room.classID = "C2";
  room.subjectID = "SU";
  Lesson lesson;
  lesson.start("P7", room, "2026-12-10 09:00:00");
  for (int tick = 0; tick < 3; ++tick) lesson.countScreenshot();

  const ScreenshotJob job = makeScreenshotJob(state, lesson, "/opt/edu");
  EXPECT_EQ(job.dataDir, "/opt/edu");
  EXPECT_EQ(job.lesson.teacherName, state.teacherName);
  EXPECT_EQ(job.lesson.teacherPhone, "138");
  EXPECT_EQ(job.lesson.processID, "P7");
  EXPECT_EQ(job.counter, 4);
  EXPECT_EQ(job.serverHost, "10.0.0.5");
  EXPECT_EQ(job.serverPort, 8080);
  EXPECT_EQ(job.target,
            "/edu/clientInterface-postScreenShot?appKey=3b9d0e4a7f21c6585ad0e9b7c41f2a6d"
            "&processID=P7&schoolID=S1&gradeID=G3&classesID=C2&teacherID=T9&subjectID=SU&deviceID=D1"
            "&offLine=0&shotTime=");
}

}  // namespace
