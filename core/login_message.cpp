#include "core/login_message.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>

#include "sys/protected_text.h"
#include "sys/split_items.h"
#include "sys/text_codec.h"

namespace {

// A whole decimal number with an optional sign that fits an int; anything
// else (blanks, hexadecimal, a fraction, too many digits) is no number.
std::optional<int> decimalValue(std::string_view item) {
  const bool plus = !item.empty() && item.front() == '+';
  if (plus) item.remove_prefix(1);
  if (item.empty() || (plus && item.front() == '-')) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value);
  if (error != std::errc() || end != item.data() + item.size()) return std::nullopt;
  return value;
}

std::string reason(std::string_view utf8) {
  return text::utf8ToGbk(std::string("登录消息未处理：") + std::string(utf8));
}

}  // namespace

std::string loginTextOfBlock(std::string_view block) {
  return std::string(block.substr(0, block.find('\0')));
}

std::string loginTextForLog(std::string_view text) {
  const std::vector<std::string> items = splitItems(text, "|", " ");
  // A login short of items still ends with its password, most likely.
  const bool login = !items.empty() && items[kItemOnline] == "online";
  const size_t hiddenFrom = !login ? items.size() : std::min<size_t>(kItemFtpPassword, items.size() - 1);
  std::string shown;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) shown += '|';
    shown += i >= hiddenFrom ? std::string("***") : items[i];
  }
  return shown;
}

LoginParseResult parseLoginMessage(std::string_view text) {
  LoginParseResult result;
  LoginMessage& message = result.message;
  message.items = splitItems(text, "|", " ");
  if (message.items.empty()) {
    result.rejection = reason("消息为空");
    return result;
  }
  message.online = message.items[kItemOnline] == "online";
  if (message.online) {
    if (message.items.size() < kLoginItemCount) {
      result.rejection = reason("只有 " + std::to_string(message.items.size()) + " 项，登录需要 27 项");
      return result;
    }
    if (!decimalValue(message.items[kItemScreenshotInterval])) {
      result.rejection = reason("截屏间隔不是十进制数：") + message.items[kItemScreenshotInterval];
      return result;
    }
    message.ftpUser = decodeProtectedText(message.items[kItemFtpUser], kProtectedTextKey);
    message.ftpPassword = decodeProtectedText(message.items[kItemFtpPassword], kProtectedTextKey);
  }
  result.accepted = true;
  return result;
}

void applyLogin(const LoginMessage& message, ClientStateRecord& state) {
  const auto& item = message.items;
  state.loginState = true;
  state.teacherID = item[kItemTeacherID];
  state.teacherName = item[kItemTeacherName];
  state.teacherPhone = item[kItemTeacherPhone];
  state.schoolID = item[kItemSchoolID];
  state.schoolName = item[kItemSchoolName];
  state.provinceID = item[kItemProvinceID];
  state.provinceName = item[kItemProvinceName];
  state.cityID = item[kItemCityID];
  state.cityName = item[kItemCityName];
  state.areaID = item[kItemAreaID];
  state.areaName = item[kItemAreaName];
  state.lockScreenFlag = item[kItemLockScreenFlag];
  state.screenshotIntervalSec = effectiveScreenshotInterval(item[kItemScreenshotInterval]);
  state.ftpHost = item[kItemFtpHost];
  state.ftpPort = item[kItemFtpPort];
  state.latestVersion = item[kItemLatestVersion];
  state.upgradeVersionNumber = item[kItemUpgradeVersionNumber];
  state.upgradeInfoUrl = item[kItemUpgradeInfoUrl];
  state.ftpUser = message.ftpUser;
  state.ftpPassword = message.ftpPassword;
}

void applyLogout(ClientStateRecord& state) { state.loginState = false; }

std::string effectiveScreenshotInterval(std::string_view item) {
  const std::optional<int> value = decimalValue(item);
  if (!value || *value < kMinScreenshotIntervalSec) return std::to_string(kMinScreenshotIntervalSec);
  return std::string(item);
}

int screenshotIntervalMs(std::string_view intervalSec) {
  const int seconds = decimalValue(intervalSec).value_or(kMinScreenshotIntervalSec);
  return static_cast<int>(std::clamp<long long>(seconds * 1000LL, 0, INT_MAX));
}

bool upgradeAnnounced(std::string_view current, std::string_view latest) {
  return std::lexicographical_compare(
      current.begin(), current.end(), latest.begin(), latest.end(),
      [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
}
