#include "tools/LockScreen/lock_settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <algorithm>

#include "core/login_message.h"
#include "core/server_address.h"
#include "sys/qt_text.h"

namespace {

// QSettings reads an unquoted value with commas as a list; the file means
// the text as written.
std::string iniText(const QSettings& ini, const char* key) {
  const QVariant value = ini.value(key);
  if (value.typeId() == QMetaType::QStringList) return text::fromQString(value.toStringList().join(","));
  return text::fromQString(value.toString().trimmed());
}

void overlay(std::string& field, const QSettings& ini, const char* key) {
  std::string value = iniText(ini, key);
  if (!value.empty()) field = std::move(value);
}

}  // namespace

LockSettings settingsFromLoginInfo(DB_Func::RowSet loginInfo) {
  LockSettings settings;
  if (loginInfo.rowCount() == 0) return settings;
  loginInfo.moveTo(0);
  settings.serverUrl = loginInfo.text("http_url");
  settings.schoolID = loginInfo.text("school_id");
  settings.schoolName = loginInfo.text("school_name");
  settings.provinceID = loginInfo.text("shen_id");
  settings.provinceName = loginInfo.text("shen_name");
  settings.cityID = loginInfo.text("shi_id");
  settings.cityName = loginInfo.text("shi_name");
  settings.areaID = loginInfo.text("qu_id");
  settings.areaName = loginInfo.text("qu_name");
  if (!loginInfo.text("is_lock_scr").empty()) settings.lockScreenFlag = loginInfo.text("is_lock_scr");
  return settings;
}

LockSettings readLockSettings(const std::string& path, LockSettings settings, bool* found) {
  const QString file = QString::fromStdString(path);
  const bool there = QFileInfo(file).isFile() && QFileInfo(file).isReadable();
  if (found) *found = there;
  if (!there) return settings;

  const QSettings ini(file, QSettings::IniFormat);
  overlay(settings.serverUrl, ini, "server/address");
  overlay(settings.schoolID, ini, "school/id");
  overlay(settings.schoolName, ini, "school/name");
  overlay(settings.provinceID, ini, "school/provinceID");
  overlay(settings.provinceName, ini, "school/provinceName");
  overlay(settings.cityID, ini, "school/cityID");
  overlay(settings.cityName, ini, "school/cityName");
  overlay(settings.areaID, ini, "school/areaID");
  overlay(settings.areaName, ini, "school/areaName");
  overlay(settings.lockScreenFlag, ini, "lesson/lockScreen");
  bool isNumber = false;
  const int minutes = ini.value("lesson/screenshotMinutes").toString().trimmed().toInt(&isNumber);
  if (isNumber) settings.screenshotMinutes = minutes;
  overlay(settings.ftpHost, ini, "ftp/host");
  overlay(settings.ftpPort, ini, "ftp/port");
  overlay(settings.ftpUser, ini, "ftp/user");
  overlay(settings.ftpPassword, ini, "ftp/password");
  overlay(settings.latestVersion, ini, "upgrade/latestVersion");
  overlay(settings.upgradeVersionNumber, ini, "upgrade/versionNumber");
  overlay(settings.upgradeInfoUrl, ini, "upgrade/infoFileUrl");
  return settings;
}

LoginValues loginValuesFor(const LockSettings& settings, const PickerTeacher& teacher) {
  LoginValues values;
  values.teacherID = teacher.id;
  values.teacherName = teacher.name;
  values.teacherPhone = teacher.phone;
  values.schoolID = settings.schoolID;
  values.schoolName = settings.schoolName;
  values.provinceID = settings.provinceID;
  values.provinceName = settings.provinceName;
  values.cityID = settings.cityID;
  values.cityName = settings.cityName;
  values.areaID = settings.areaID;
  values.areaName = settings.areaName;
  values.serverUrl = settings.serverUrl;
  values.lockScreenFlag = settings.lockScreenFlag;
  // A day is the longest interval that makes sense; the client takes no
  // less than a minute.
  values.screenshotIntervalSec = std::to_string(60 * std::clamp(settings.screenshotMinutes, 1, 24 * 60));
  values.ftpHost = !settings.ftpHost.empty() ? settings.ftpHost : splitServerAddress(settings.serverUrl).host;
  values.ftpPort = settings.ftpPort;
  values.ftpUser = settings.ftpUser;
  values.ftpPassword = settings.ftpPassword;
  values.latestVersion =
      !settings.latestVersion.empty() ? settings.latestVersion : std::string(kClientVersion);
  values.upgradeVersionNumber =
      !settings.upgradeVersionNumber.empty() ? settings.upgradeVersionNumber : values.latestVersion;
  // Read only when a newer version is announced; the item has to be there.
  values.upgradeInfoUrl = !settings.upgradeInfoUrl.empty() ? settings.upgradeInfoUrl : "0";
  return values;
}
