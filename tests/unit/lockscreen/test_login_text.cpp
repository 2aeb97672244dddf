// The lock screen's login message read back by the client's own parser: what
// is built arrives in the same ClientState fields, and a value the message
// cannot carry is refused instead of shifting the items after it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/login_message.h"
#include "state/client_state.h"
#include "sys/text_codec.h"
#include "tools/LockScreen/login_text.h"

namespace {

using text::utf8ToGbk;

LoginValues sampleValues() {
  LoginValues v;
  v.teacherID = "2002";
  v.teacherName = utf8ToGbk("欧阳晓明");
  v.teacherPhone = "13810012002";
  v.schoolID = "1001";
  v.schoolName = utf8ToGbk("东城区第一实验小学");
  v.provinceID = "110000";
  v.provinceName = utf8ToGbk("北京市");
  v.cityID = "110100";
  v.cityName = utf8ToGbk("北京市");
  v.areaID = "110101";
  v.areaName = utf8ToGbk("东城区");
  v.serverUrl = "10.1.2.3:8080/edu";
  v.lockScreenFlag = "1";
  v.screenshotIntervalSec = "300";
  v.ftpHost = "10.1.2.4";
  v.ftpPort = "2121";
  // The protected items carry anything but NUL: separators, quotes, GBK.
  v.ftpUser = utf8ToGbk("上传|'用户\"");
  v.ftpPassword = "p a\r\n\xFF";
  v.latestVersion = "5.0.34";
  v.upgradeVersionNumber = "5034";
  v.upgradeInfoUrl = "http://10.1.2.3/upgrade.xml?v=1&x=2";
  return v;
}

struct ParsedBack {
  ClientStateRecord state;
  std::string serverUrl;  // the address item, which the client reads but does not keep
};

ParsedBack parsedBack(const std::string& text) {
  const LoginParseResult parsed = parseLoginMessage(text);
  EXPECT_TRUE(parsed.accepted) << text::gbkToUtf8(parsed.rejection);
  EXPECT_TRUE(parsed.message.online);
  ParsedBack back;
  if (parsed.accepted) {
    applyLogin(parsed.message, back.state);
    back.serverUrl = parsed.message.items[kItemServerUrl];
  }
  return back;
}

void expectSameFields(const LoginValues& v, const ParsedBack& back) {
  const ClientStateRecord& s = back.state;
  EXPECT_TRUE(s.loginState);
  EXPECT_EQ(s.teacherID, v.teacherID);
  EXPECT_EQ(s.teacherName, v.teacherName);
  EXPECT_EQ(s.teacherPhone, v.teacherPhone);
  EXPECT_EQ(s.schoolID, v.schoolID);
  EXPECT_EQ(s.schoolName, v.schoolName);
  EXPECT_EQ(s.provinceID, v.provinceID);
  EXPECT_EQ(s.provinceName, v.provinceName);
  EXPECT_EQ(s.cityID, v.cityID);
  EXPECT_EQ(s.cityName, v.cityName);
  EXPECT_EQ(s.areaID, v.areaID);
  EXPECT_EQ(s.areaName, v.areaName);
  EXPECT_EQ(back.serverUrl, v.serverUrl);
  EXPECT_EQ(s.lockScreenFlag, v.lockScreenFlag);
  EXPECT_EQ(s.screenshotIntervalSec, v.screenshotIntervalSec);
  EXPECT_EQ(s.ftpHost, v.ftpHost);
  EXPECT_EQ(s.ftpPort, v.ftpPort);
  EXPECT_EQ(s.ftpUser, v.ftpUser);
  EXPECT_EQ(s.ftpPassword, v.ftpPassword);
  EXPECT_EQ(s.latestVersion, v.latestVersion);
  EXPECT_EQ(s.upgradeVersionNumber, v.upgradeVersionNumber);
  EXPECT_EQ(s.upgradeInfoUrl, v.upgradeInfoUrl);
}

TEST(LoginText, TheClientReadsBackEveryValueIntoItsField) {
  const LoginValues values = sampleValues();
  for (const uint8_t seed : {0, 1, 127, 254, 255}) {
    SCOPED_TRACE(seed);
    const LoginTextResult built = buildLoginText(values, seed, static_cast<uint8_t>(255 - seed));
    ASSERT_TRUE(built.problem.empty()) << text::gbkToUtf8(built.problem);
    expectSameFields(values, parsedBack(built.text));
  }

  // Empty FTP credentials still keep their places.
  LoginValues anonymous = sampleValues();
  anonymous.ftpUser.clear();
  anonymous.ftpPassword.clear();
  const LoginTextResult built = buildLoginText(anonymous, 7, 9);
  ASSERT_TRUE(built.problem.empty());
  expectSameFields(anonymous, parsedBack(built.text));
}

TEST(LoginText, RefusesValuesThatWouldMoveTheItemsAfterThem) {
  struct Case {
    const char* what;
    std::function<void(LoginValues&)> change;
    const char* problemStart;  // UTF-8
  } cases[] = {
      {"empty phone", [](LoginValues& v) { v.teacherPhone.clear(); }, "老师电话为空"},
      {"empty area", [](LoginValues& v) { v.areaID.clear(); }, "区县编号为空"},
      {"separator", [](LoginValues& v) { v.teacherName += "|x"; }, "老师姓名含有"},
      // The second GBK byte of 亅 is "|" itself.
      {"GBK byte 0x7C", [](LoginValues& v) { v.teacherName = utf8ToGbk("王亅"); }, "老师姓名含有"},
      {"quote", [](LoginValues& v) { v.schoolName = "O'Neil"; }, "学校名称含有"},
      {"double quote", [](LoginValues& v) { v.cityName = "\"x"; }, "城市名称含有"},
      {"line break", [](LoginValues& v) { v.upgradeInfoUrl = "http://a/\nb"; }, "升级信息文件地址含有"},
      {"leading blank", [](LoginValues& v) { v.serverUrl = " 10.1.2.3"; }, "服务器地址含有"},
      {"interval not a number", [](LoginValues& v) { v.screenshotIntervalSec = "5m"; }, "截屏间隔不是整数"},
      {"NUL in a protected value", [](LoginValues& v) { v.ftpPassword = std::string("a\0b", 3); },
       "FTP 密码含有"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoginValues values = sampleValues();
    c.change(values);
    const LoginTextResult built = buildLoginText(values, 1, 2);
    EXPECT_TRUE(built.text.empty());
    EXPECT_EQ(text::gbkToUtf8(built.problem).rfind(c.problemStart, 0), 0u) << text::gbkToUtf8(built.problem);
  }
}

}  // namespace
