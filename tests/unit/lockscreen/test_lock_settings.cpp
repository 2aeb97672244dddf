// Where the lock screen's login values come from: LockScreen.ini over the
// login stored in edu.db over the built-in defaults, and the teachers of the
// server's reply.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "sys/text_codec.h"
#include "tests/support/test_support.h"
#include "tools/LockScreen/lock_settings.h"
#include "tools/LockScreen/reply_teachers.h"

namespace {

using text::utf8ToGbk;

DB_Func::RowSet storedLogin() {
  return DB_Func::RowSet(
      {"teacher_id", "teacher_name", "teacher_phone", "http_url", "is_lock_scr", "school_id", "school_name",
       "shen_name", "shi_name", "qu_name", "shen_id", "shi_id", "qu_id"},
      {"2001", utf8ToGbk("张伟"), "13810012001", "127.0.0.1:8090", "1", "1001", utf8ToGbk("第一实验小学"),
       utf8ToGbk("北京市"), utf8ToGbk("北京市"), utf8ToGbk("东城区"), "110000", "110100", "110101"});
}

const PickerTeacher kTeacher{"2002", utf8ToGbk("王芳"), "13810012002"};

TEST(LockSettings, TheFileOverridesTheStoredLoginWhichOverridesTheDefaults) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/LockScreen.ini";
  ASSERT_TRUE(testsupport::writeFile(path,
                                     "[server]\naddress=10.0.0.9:8080/edu\n"
                                     "[school]\nid=1002\nname=育英中学\nareaName=\n"
                                     "[lesson]\nscreenshotMinutes=2\n"
                                     "[ftp]\nuser=up\npassword=\"a,b;c\"\n"
                                     "[upgrade]\nlatestVersion=5.0.40\ninfoFileUrl=http://10.0.0.9/u.xml\n"));
  bool found = false;
  const LockSettings settings = readLockSettings(path, settingsFromLoginInfo(storedLogin()), &found);
  EXPECT_TRUE(found);
  const LoginValues v = loginValuesFor(settings, kTeacher);

  EXPECT_EQ(v.teacherID, "2002");
  EXPECT_EQ(v.serverUrl, "10.0.0.9:8080/edu");
  EXPECT_EQ(v.schoolID, "1002");
  EXPECT_EQ(v.schoolName, utf8ToGbk("育英中学"));
  EXPECT_EQ(v.areaID, "110101");               // from the stored login
  EXPECT_EQ(v.areaName, utf8ToGbk("东城区"));  // empty in the file
  EXPECT_EQ(v.lockScreenFlag, "1");            // from the stored login
  EXPECT_EQ(v.screenshotIntervalSec, "120");
  EXPECT_EQ(v.ftpHost, "10.0.0.9");  // the server's host
  EXPECT_EQ(v.ftpPort, "21");
  EXPECT_EQ(v.ftpUser, "up");
  EXPECT_EQ(v.ftpPassword, "a,b;c");
  EXPECT_EQ(v.latestVersion, "5.0.40");
  EXPECT_EQ(v.upgradeVersionNumber, "5.0.40");
  EXPECT_EQ(v.upgradeInfoUrl, "http://10.0.0.9/u.xml");
}

TEST(LockSettings, WithoutFileOrStoredLoginTheDefaultsStillMakeEveryItem) {
  QTemporaryDir dir;
  bool found = true;
  const LockSettings settings =
      readLockSettings(dir.path().toStdString() + "/LockScreen.ini", settingsFromLoginInfo({}), &found);
  EXPECT_FALSE(found);
  EXPECT_TRUE(settings.serverUrl.empty());
  const LoginValues v = loginValuesFor(settings, kTeacher);
  EXPECT_EQ(v.lockScreenFlag, "0");
  EXPECT_EQ(v.screenshotIntervalSec, "300");
  EXPECT_EQ(v.latestVersion, "5.0.33");  // no upgrade announced
  EXPECT_EQ(v.upgradeVersionNumber, "5.0.33");
  EXPECT_FALSE(v.upgradeInfoUrl.empty());

  LockSettings tooShort;
  tooShort.screenshotMinutes = 0;
  EXPECT_EQ(loginValuesFor(tooShort, kTeacher).screenshotIntervalSec, "60");
}

TEST(ReplyTeachers, ReadsTheListInAcronymOrderAndNothingWithoutAList) {
  const std::string reply =
      utf8ToGbk(R"({"status":"ok","jsonData":[)"
                R"({"id":"2003","userName":"李娜 ","mobile":"13810012003","acronym":"ln"},)"
                R"({"id":2001,"userName":"张伟","mobile":"13810012001","acronym":"zw"},)"
                R"({"id":"2002","userName":"王芳","acronym":"wf"}]})");
  const auto teachers = teachersOfReply(reply);
  ASSERT_TRUE(teachers);
  ASSERT_EQ(teachers->size(), 3u);
  EXPECT_EQ((*teachers)[0].name, utf8ToGbk("李娜"));
  EXPECT_EQ((*teachers)[1].id, "2002");
  EXPECT_EQ((*teachers)[1].phone, "");
  EXPECT_EQ((*teachers)[2].id, "2001");

  EXPECT_FALSE(teachersOfReply(R"({"status":"ok"})"));
  EXPECT_FALSE(teachersOfReply(R"({"status":"ok","jsonData":{}})"));
  EXPECT_FALSE(teachersOfReply(""));
  EXPECT_EQ(teachersOfReply(R"({"status":"ok","jsonData":[]})")->size(), 0u);
}

}  // namespace
