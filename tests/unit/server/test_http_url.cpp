#include <gtest/gtest.h>

#include "server/http_url.h"

namespace {

using namespace HttpUrl;

const std::string kKey = "?appKey=3b9d0e4a7f21c6585ad0e9b7c41f2a6d";

TEST(HttpUrl, BuildsEveryRequestTarget) {
  // 中 in GBK, then CR LF, a space and the characters that would end a value.
  const std::string fault = "\xD6\xD0\r\n a&=?/:";
  // 第1 课 in GBK.
  const std::string fileName =
      "\xB5\xDA"
      "1 \xBF\xCE";
  struct Case {
    const char* name;
    std::string target;
    std::string expected;
  } cases[] = {
      {"grades", GradesOfSchool("/", "1024"), "/clientInterface-getGradeInfo" + kKey + "&schoolID=1024"},
      {"teachers, empty id", TeachersOfSchool("/edu/", ""),
       "/edu/clientInterface-getAreaData" + kKey + "&type=5&id="},
      {"schools", SchoolsOfDistrict("/edu/", "330106"),
       "/edu/clientInterface-getAreaData" + kKey + "&type=4&id=330106"},
      {"classes", ClassesOfGrade("/", "12", "3"),
       "/clientInterface-getGradeInfo" + kKey + "&schoolID=12&gradeID=3"},
      {"subjects", SubjectsOfGrade("/", "3"), "/clientInterface-getSubject" + kKey + "&gradeID=3"},
      {"fault report", ReportFault("/", "12", "3", "7", "55", "13800000000", fault, ""),
       "/clientInterface-insertRepairs" + kKey +
           "&schoolID=12&gradeID=3&classID=7&teacherID=55&tel=13800000000"
           "&faultDetail=%e4%b8%ad%0d%0a+a%26%3d%3f%2f%3a&address="},
      {"lesson start", StartLesson("/", "12", "3", "7", "55", "9", "WD-123", "0", ""),
       "/clientInterface-getStartCountTime" + kKey +
           "&schoolID=12&gradeID=3&classesID=7&teacherID=55&subjectID=9&deviceID=WD-123&offLine=0&"
           "beginTime="},
      {"screenshot", Screenshot("/edu/", "88", "12", "3", "7", "55", "9", "WD-123", "0", ""),
       "/edu/clientInterface-postScreenShot" + kKey +
           "&processID=88&schoolID=12&gradeID=3&classesID=7&teacherID=55&subjectID=9&deviceID=WD-123&offLine="
           "0"
           "&shotTime="},
      {"running lesson, no server path yet", RunningLesson("", "WD-123"),
       "clientInterface-getCouterTime" + kKey + "&hardDiskID=WD-123"},
      {"catalogs", CatalogsOfSubject("/", "12", "3", "9"),
       "/clientInterface-getCatalog" + kKey + "&schoolID=12&gradeID=3&subjectID=9"},
      {"file by hash", FindFileByHash("/", "d41d8cd98f00b204e9800998ecf8427e"),
       "/clientInterface-findFileByHash" + kKey + "&hash=d41d8cd98f00b204e9800998ecf8427e"},
      {"courseware, GBK file name",
       RegisterCourseware("/", "d41d8cd98f00b204e9800998ecf8427e", "88", "12", "3", "7", "9", "4", "55",
                          fileName, "/courseware/12/55/a b.ppt"),
       "/clientInterface-postCourseware" + kKey +
           "&hash=d41d8cd98f00b204e9800998ecf8427e&processID=88&schoolID=12&gradeID=3&classesID=7&subjectID=9"
           "&catalogID=4&teacherID=55&fileName=%b5%da1+%bf%ce&path=/courseware/12/55/a b.ppt"},
      {"plain values go out unchanged", GradesOfSchool("/", "1 & 2"),
       "/clientInterface-getGradeInfo" + kKey + "&schoolID=1 & 2"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.target, c.expected) << c.name;
}

// The disk serial goes out as it is when it holds safe characters only, and
// percent-encoded when a blank, "&", "%", "+" or a high byte would break the
// request line or the query.
TEST(HttpUrl, TheDiskSerialIsEncodedOnlyWhenItMustBe) {
  struct Case {
    std::string serial;
    std::string sent;
  } cases[] = {
      {"WD-WCC4N1234", "WD-WCC4N1234"},   {"S3Z9NB0K_123.4@(x)!", "S3Z9NB0K_123.4@(x)!"},
      {"WD-WCC 4N1234", "WD-WCC+4N1234"}, {"A&B=C%D+E", "A%26B%3dC%25D%2bE"},
      {"\xB4\xC5 1\t", "%b4%c5+1%09"},    {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial);
    EXPECT_EQ(RunningLesson("/", c.serial),
              "/clientInterface-getCouterTime" + kKey + "&hardDiskID=" + c.sent);
    EXPECT_EQ(StartLesson("/", "12", "3", "7", "55", "9", c.serial, "0", ""),
              "/clientInterface-getStartCountTime" + kKey +
                  "&schoolID=12&gradeID=3&classesID=7&teacherID=55&subjectID=9&deviceID=" + c.sent +
                  "&offLine=0&beginTime=");
    EXPECT_EQ(Screenshot("/", "88", "12", "3", "7", "55", "9", c.serial, "0", ""),
              "/clientInterface-postScreenShot" + kKey +
                  "&processID=88&schoolID=12&gradeID=3&classesID=7&teacherID=55&subjectID=9&deviceID=" +
                  c.sent + "&offLine=0&shotTime=");
  }
}

TEST(PercentEncode, KeepsOnlyTheSafeCharacters) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  } cases[] = {
      {"kept as they are", "AZaz09!$'()*-.@_", "AZaz09!$'()*-.@_"},
      {"space", "a b", "a+b"},
      {"other printable", "#%+,/:;<=>?[\\]^`{|}~\"&",
       "%23%25%2b%2c%2f%3a%3b%3c%3d%3e%3f%5b%5c%5d%5e%60%7b%7c%7d%7e%22%26"},
      {"control, DEL and high bytes", "\x01\t\x7f\x80\xff", "%01%09%7f%80%ff"},
      {"ends at NUL", std::string("a\0b", 3), "a"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentEncode(c.input), c.expected) << c.name;
}

}  // namespace
