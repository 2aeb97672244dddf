// The one process-wide record of who is signed in and where the server and
// the FTP server are. The running lesson is not here (state/lesson.h), nor
// what a teacher chooses on the pages (each page keeps its own). Text fields
// hold GBK bytes; an empty text means absent. Read anywhere on the UI thread;
// written only through core/sign_in.h. Workers take copies of what they
// need.
#pragma once

#include <string>

struct ClientStateRecord {
  bool loginState = false;

  std::string teacherID;
  std::string teacherName;
  std::string teacherPhone;
  std::string schoolID;
  std::string schoolName;
  std::string provinceID;
  std::string provinceName;
  std::string cityID;
  std::string cityName;
  std::string areaID;
  std::string areaName;

  std::string serverHost;
  int serverPort = 80;
  std::string serverPath;
  bool serverSecure = false;  // an https address: every request over TLS

  std::string lockScreenFlag;
  std::string screenshotIntervalSec;
  std::string ftpHost;
  std::string ftpPort;
  std::string ftpUser;
  std::string ftpPassword;
  std::string ftpTls = "off";  // from the settings: "off", "try" or "require"
  std::string latestVersion;
  std::string upgradeVersionNumber;
  std::string upgradeInfoUrl;

  std::string diskID;
};

inline ClientStateRecord ClientState;
