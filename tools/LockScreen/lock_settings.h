// What the lock screen needs to know beyond the teacher: the server, the
// school and its area, the F4 flag, the screenshot interval, the FTP server
// and the upgrade values. They come from "LockScreen.ini" beside the program
// (UTF-8, QSettings' INI format); what the file leaves out comes from the
// login stored in edu.db (the first t_login_info row), then from built-in
// defaults.
#pragma once

#include <string>

#include "panels/school_lists.h"
#include "store/row_set.h"
#include "tools/LockScreen/login_text.h"

struct LockSettings {
  std::string serverUrl;  // host[:port][/path]
  std::string schoolID, schoolName;
  std::string provinceID, provinceName;
  std::string cityID, cityName;
  std::string areaID, areaName;
  std::string lockScreenFlag = "0";
  int screenshotMinutes = 5;
  std::string ftpHost;  // empty: the server's host
  std::string ftpPort = "21";
  std::string ftpUser, ftpPassword;
  std::string latestVersion;         // empty: this client's version
  std::string upgradeVersionNumber;  // empty: the latest version
  std::string upgradeInfoUrl;
};

// The file's name in the program folder.
inline constexpr const char* kLockSettingsFile = "LockScreen.ini";

// The built-in defaults with the stored login's server, school, area and F4
// flag over them (the first row of `loginInfo`, when it has one).
LockSettings settingsFromLoginInfo(DB_Func::RowSet loginInfo);

// `defaults` with every non-empty value of the INI file at `path` over it.
// `found` tells whether the file was there and readable.
LockSettings readLockSettings(const std::string& path, LockSettings defaults, bool* found = nullptr);

// The login of `teacher` with these settings: the interval in seconds (at
// least one minute), the FTP host and the upgrade values filled in where
// the settings leave them empty.
LoginValues loginValuesFor(const LockSettings& settings, const PickerTeacher& teacher);
