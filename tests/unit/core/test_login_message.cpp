#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/login_message.h"
#include "sys/protected_text.h"
#include "sys/text_codec.h"

namespace {

using text::gbk;

// The 27 items of a complete login, in the companion's order.
std::vector<std::string> loginItems() {
  return {"online",
          "T1001",
          gbk("张明"),
          "13812345678",
          "S01",
          gbk("实验小学"),
          "P44",
          gbk("广东省"),
          "C01",
          gbk("广州市"),
          "A06",
          gbk("天河区"),
          "192.168.1.10:8080/edu",
          "1",
          "unused14",
          "90",
          "ftp.school.local",
          "2121",
          "unused18",
          "5.0.34",
          "unused20",
          "5.0.34.1",
          "unused22",
          "http://upgrade.local/info.xml",
          "unused24",
          encodeProtectedText("ftpuser", kProtectedTextKey, 0x3C),
          encodeProtectedText("pa|ss word", kProtectedTextKey, 0xA7)};
}

std::string join(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i ? "|" : "") + items[i];
  return text;
}

ClientStateRecord stateWithServer() {
  ClientStateRecord state;
  state.serverHost = "10.0.0.1";
  state.serverPort = 8080;
  state.serverPath = "/edu/";
  return state;
}

// (That a login also ends and forgets the lesson and the pages' choices is
// the status window's part: see test_lesson.cpp.)
TEST(LoginMessage, LoginFillsEveryField) {
  const LoginParseResult parsed = parseLoginMessage(join(loginItems()));
  ASSERT_TRUE(parsed.accepted) << parsed.rejection;
  ASSERT_TRUE(parsed.message.online);

  ClientStateRecord state = stateWithServer();
  applyLogin(parsed.message, state);

  EXPECT_TRUE(state.loginState);
  EXPECT_EQ(state.teacherID, "T1001");
  EXPECT_EQ(state.teacherName, gbk("张明"));
  EXPECT_EQ(state.teacherPhone, "13812345678");
  EXPECT_EQ(state.schoolID, "S01");
  EXPECT_EQ(state.schoolName, gbk("实验小学"));
  EXPECT_EQ(state.provinceID, "P44");
  EXPECT_EQ(state.provinceName, gbk("广东省"));
  EXPECT_EQ(state.cityID, "C01");
  EXPECT_EQ(state.cityName, gbk("广州市"));
  EXPECT_EQ(state.areaID, "A06");
  EXPECT_EQ(state.areaName, gbk("天河区"));
  EXPECT_EQ(parsed.message.items[kItemServerUrl], "192.168.1.10:8080/edu");
  EXPECT_EQ(state.lockScreenFlag, "1");
  EXPECT_EQ(state.screenshotIntervalSec, "90");
  EXPECT_EQ(state.ftpHost, "ftp.school.local");
  EXPECT_EQ(state.ftpPort, "2121");
  EXPECT_EQ(state.latestVersion, "5.0.34");
  EXPECT_EQ(state.upgradeVersionNumber, "5.0.34.1");
  EXPECT_EQ(state.upgradeInfoUrl, "http://upgrade.local/info.xml");
  // The "|" and the space inside the password travel hidden in the hex text.
  EXPECT_EQ(state.ftpUser, "ftpuser");
  EXPECT_EQ(state.ftpPassword, "pa|ss word");
  // The address in use was fixed at start-up; the login's address is not used.
  EXPECT_EQ(state.serverHost, "10.0.0.1");
  EXPECT_EQ(state.serverPort, 8080);
  EXPECT_EQ(state.serverPath, "/edu/");
}

TEST(LoginMessage, EmptyFieldsVanishAndLaterItemsMoveUp) {
  // An empty phone field and a blank-only school id: two items vanish, so
  // with two extra trailing items every later field has moved up by two.
  std::vector<std::string> items = loginItems();
  items[kItemTeacherPhone] = "";
  items[kItemSchoolID] = "   ";
  items.push_back("extra27");
  items.push_back("extra28");
  const LoginParseResult parsed = parseLoginMessage(join(items));
  ASSERT_TRUE(parsed.accepted) << parsed.rejection;
  ClientStateRecord state;
  applyLogin(parsed.message, state);
  EXPECT_EQ(state.teacherPhone, gbk("实验小学"));
  EXPECT_EQ(state.schoolID, "P44");
  EXPECT_EQ(parsed.message.items[kItemServerUrl], "unused14");
  EXPECT_EQ(state.ftpPassword, "");  // "extra28" is no protected text
}

TEST(LoginMessage, OnlyExactlyOnlineIsALogin) {
  struct Case {
    std::string first;
    bool online;
  } cases[] = {{"online", true},  {"   online", true}, {"\r\nonline", true}, {"online ", false},
               {"Online", false}, {"ONLINE", false},   {"offline", false},   {"\"online\"", false}};
  for (const auto& c : cases) {
    std::vector<std::string> items = loginItems();
    items[0] = c.first;
    const LoginParseResult parsed = parseLoginMessage(join(items));
    ASSERT_TRUE(parsed.accepted) << c.first;
    EXPECT_EQ(parsed.message.online, c.online) << '"' << c.first << '"';
  }
}

TEST(LoginMessage, LogoutKeepsTeacherSchoolServerAndFtpValues) {
  const LoginParseResult login = parseLoginMessage(join(loginItems()));
  ASSERT_TRUE(login.accepted);
  ClientStateRecord state = stateWithServer();
  applyLogin(login.message, state);
  const ClientStateRecord signedIn = state;

  const LoginParseResult logout = parseLoginMessage("offline");
  ASSERT_TRUE(logout.accepted);
  ASSERT_FALSE(logout.message.online);
  applyLogout(state);

  EXPECT_FALSE(state.loginState);
  EXPECT_EQ(state.teacherID, signedIn.teacherID);
  EXPECT_EQ(state.teacherName, signedIn.teacherName);
  EXPECT_EQ(state.teacherPhone, signedIn.teacherPhone);
  EXPECT_EQ(state.schoolName, signedIn.schoolName);
  EXPECT_EQ(state.areaName, signedIn.areaName);
  EXPECT_EQ(state.serverHost, signedIn.serverHost);
  EXPECT_EQ(state.screenshotIntervalSec, signedIn.screenshotIntervalSec);
  EXPECT_EQ(state.ftpPassword, signedIn.ftpPassword);
  EXPECT_EQ(state.latestVersion, signedIn.latestVersion);
}

TEST(LoginMessage, ScreenshotIntervalIsNeverBelowAMinute) {
  struct Case {
    const char* item;
    const char* stored;
    int ms;
  } cases[] = {{"30", "60", 60000},
               {"59", "60", 60000},
               {"60", "60", 60000},
               {"90", "90", 90000},
               {"0", "60", 60000},
               {"-5", "60", 60000},
               {"+120", "+120", 120000},
               {"0090", "0090", 90000},
               // Seconds whose milliseconds no timer holds wait as long as a timer can.
               {"2147483647", "2147483647", INT_MAX}};
  for (const auto& c : cases) {
    std::vector<std::string> items = loginItems();
    items[kItemScreenshotInterval] = c.item;
    const LoginParseResult parsed = parseLoginMessage(join(items));
    ASSERT_TRUE(parsed.accepted) << c.item;
    ClientStateRecord state;
    applyLogin(parsed.message, state);
    EXPECT_EQ(state.screenshotIntervalSec, c.stored) << c.item;
    EXPECT_EQ(screenshotIntervalMs(state.screenshotIntervalSec), c.ms) << c.item;
  }
}

TEST(LoginMessage, RefusesWhatCannotBeAppliedInFull) {
  auto withInterval = [](const char* interval) {
    std::vector<std::string> items = loginItems();
    items[kItemScreenshotInterval] = interval;
    return join(items);
  };
  std::vector<std::string> shortLogin = loginItems();
  shortLogin[kItemTeacherPhone] = "";  // one empty field leaves 26 items
  const std::string cases[] = {"",
                               "   ",
                               "||| |",
                               "\r\n",
                               "online",
                               join(shortLogin),
                               withInterval("abc"),
                               withInterval("9x"),
                               withInterval("1.5"),
                               withInterval("0x3C"),
                               withInterval("+-5"),
                               withInterval("--5"),
                               withInterval("99999999999"),
                               withInterval("'90'")};
  for (const auto& text : cases) {
    const LoginParseResult parsed = parseLoginMessage(text);
    EXPECT_FALSE(parsed.accepted) << text;
    EXPECT_NE(parsed.rejection, "") << text;
  }
  // A logout needs only its first item.
  EXPECT_TRUE(parseLoginMessage("logout").accepted);
}

// The log's copy of a login holds nothing that decodes to the FTP password,
// whatever the message looks like; everything else stays readable.
TEST(LoginMessage, TheLogsCopyHoldsNoPassword) {
  std::vector<std::string> items = loginItems();
  const std::string password = items[kItemFtpPassword];
  const struct {
    const char* name;
    std::string text;
    std::string logged;
  } cases[] = {
      {"a login", join(items), join(std::vector<std::string>(items.begin(), items.end() - 1)) + "|***"},
      {"items after the password", join(items) + "|extra",
       join(std::vector<std::string>(items.begin(), items.end() - 1)) + "|***|***"},
      {"a login short of items hides its last", "online||T1001|" + password, "online|T1001|***"},
      {"a logout", "offline", "offline"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(loginTextForLog(c.text), c.logged);
  }
  EXPECT_EQ(loginTextForLog(join(items)).find(password), std::string::npos);
}

TEST(LoginMessage, TextEndsAtTheFirstNulOfTheBlock) {
  EXPECT_EQ(loginTextOfBlock(std::string("online|a\0|b", 11)), "online|a");
  EXPECT_EQ(loginTextOfBlock("offline"), "offline");
  EXPECT_EQ(loginTextOfBlock(std::string("\0x", 2)), "");
}

TEST(UpgradeCheck, ComparesTheVersionTextsByteByByte) {
  struct Case {
    const char* latest;
    bool announced;
  } cases[] = {
      {"5.0.34", true}, {"5.0.4", true},   {"5.1", true},      {"5.0.33.1", true},
      {"6", true},      {"5.0.33", false}, {"5.0.100", false}, {"4.9.99", false},
      {"", false},      {"5.0.3", false},  {"\xB0\xE6", true}};  // a GBK byte is larger than any digit
  for (const auto& c : cases) {
    EXPECT_EQ(upgradeAnnounced(kClientVersion, c.latest), c.announced) << c.latest;
  }
}

}  // namespace
