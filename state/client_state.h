// The one process-wide record of who is signed in, where the server is, what
// the current lesson is and what the teacher has chosen on the pages. Text
// fields hold GBK bytes; an empty text means absent or not chosen. Written on
// the UI thread only; workers take copies of what they need.
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

  std::string serverUrl;
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

  std::string gradeID, gradeName;
  std::string classID, className;
  std::string subjectID, subjectName;
  std::string catalogID, catalogName;
  // The catalog page's own grade and subject for the courseware it
  // registers, taken from the lesson's when the page opens for a lesson;
  // choosing them never changes the lesson's grade and subject above.
  std::string coursewareGradeID, coursewareGradeName;
  std::string coursewareSubjectID, coursewareSubjectName;

  std::string processID;
  int screenshotCounter = 1;
  int elapsedSeconds = 0;
  std::string diskID;
};

inline ClientStateRecord ClientState;
