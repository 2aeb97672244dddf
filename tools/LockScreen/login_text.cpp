#include "tools/LockScreen/login_text.h"

#include <string_view>
#include <vector>

#include "core/login_message.h"
#include "sys/protected_text.h"
#include "sys/text_codec.h"

namespace {

// Items the client reads nothing from still have to be there, or the items
// after them would move up.
constexpr std::string_view kUnusedItem = "0";

struct Item {
  const char* label;  // UTF-8, for the problem text
  std::string value;
};

// Whether the client's splitter gives `value` back as one item, unchanged.
bool travelsWhole(std::string_view value) {
  if (value.empty() || value.front() == ' ') return false;
  return value.find_first_of(std::string_view("|\r\n'\"\0", 6)) == std::string_view::npos;
}

bool isDecimal(std::string_view value) {
  if (value.empty() || value.size() > 9) return false;  // stays an int
  for (const char c : value) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string problem(const char* label, const char* what) {
  return text::utf8ToGbk(std::string(label) + what);
}

}  // namespace

LoginTextResult buildLoginText(const LoginValues& values, uint8_t userSeed, uint8_t passwordSeed) {
  LoginTextResult result;
  if (!isDecimal(values.screenshotIntervalSec)) {
    result.problem = problem("截屏间隔", "不是整数");
    return result;
  }
  // An empty plain text still gives a protected text (its seed alone); only
  // a NUL byte, which the cipher cannot carry, gives none.
  const std::string user = encodeProtectedText(values.ftpUser, kProtectedTextKey, userSeed);
  const std::string password = encodeProtectedText(values.ftpPassword, kProtectedTextKey, passwordSeed);
  if (user.empty() || password.empty()) {
    result.problem = problem(user.empty() ? "FTP 用户名" : "FTP 密码", "含有无法传送的字符");
    return result;
  }

  // The positions are the client's own; the items it does not read keep
  // their places with a placeholder.
  std::vector<Item> items(kLoginItemCount, Item{"", std::string(kUnusedItem)});
  items[kItemOnline] = {"登录标志", "online"};
  items[kItemTeacherID] = {"老师编号", values.teacherID};
  items[kItemTeacherName] = {"老师姓名", values.teacherName};
  items[kItemTeacherPhone] = {"老师电话", values.teacherPhone};
  items[kItemSchoolID] = {"学校编号", values.schoolID};
  items[kItemSchoolName] = {"学校名称", values.schoolName};
  items[kItemProvinceID] = {"省份编号", values.provinceID};
  items[kItemProvinceName] = {"省份名称", values.provinceName};
  items[kItemCityID] = {"城市编号", values.cityID};
  items[kItemCityName] = {"城市名称", values.cityName};
  items[kItemAreaID] = {"区县编号", values.areaID};
  items[kItemAreaName] = {"区县名称", values.areaName};
  items[kItemServerUrl] = {"服务器地址", values.serverUrl};
  items[kItemLockScreenFlag] = {"锁屏标志", values.lockScreenFlag};
  items[kItemScreenshotInterval] = {"截屏间隔", values.screenshotIntervalSec};
  items[kItemFtpHost] = {"FTP 服务器", values.ftpHost};
  items[kItemFtpPort] = {"FTP 端口", values.ftpPort};
  items[kItemLatestVersion] = {"最新版本", values.latestVersion};
  items[kItemUpgradeVersionNumber] = {"升级版本号", values.upgradeVersionNumber};
  items[kItemUpgradeInfoUrl] = {"升级信息文件地址", values.upgradeInfoUrl};
  items[kItemFtpUser] = {"FTP 用户名", user};
  items[kItemFtpPassword] = {"FTP 密码", password};

  std::string message;
  for (const Item& item : items) {
    if (item.value.empty()) {
      result.problem = problem(item.label, "为空");
      return result;
    }
    if (!travelsWhole(item.value)) {
      result.problem = problem(item.label, "含有无法传送的字符（| 引号 换行）或以空格开头");
      return result;
    }
    if (!message.empty()) message += '|';
    message += item.value;
  }
  result.text = std::move(message);
  return result;
}
