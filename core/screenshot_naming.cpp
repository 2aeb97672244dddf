#include "core/screenshot_naming.h"

#include <cstdio>

namespace {

// GBK's second bytes start at 0x40, so "/" (0x2F) and NUL are always whole
// characters and can be replaced byte by byte.
std::string safeLevel(std::string level) {
  if (level == "." || level == "..") return std::string(level.size(), '_');
  for (char& c : level) {
    if (c == '/' || c == '\0') c = '_';
  }
  return level;
}

}  // namespace

std::string yearMonthText(const std::tm& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d", date.tm_year + 1900, date.tm_mon + 1);
  return text;
}

std::string screenshotFileName(const std::tm& time, int counter) {
  char text[48];
  std::snprintf(text, sizeof text, "%02d.%02d__%d.jpg", time.tm_hour, time.tm_min, counter);
  return text;
}

std::vector<std::string> screenshotFolderLevels(const std::tm& date, const std::string& teacherName,
                                                const std::string& teacherPhone,
                                                const std::string& processID) {
  std::vector<std::string> levels{"screen_pic", yearMonthText(date)};
  for (const std::string& level : {teacherName + teacherPhone, processID}) {
    if (!level.empty()) levels.push_back(safeLevel(level));
  }
  return levels;
}

std::string screenshotUploadUrl(const std::string& host, int port, bool secure, const std::string& target) {
  const char* scheme = secure ? "https://" : "http://";
  if (port == (secure ? 443 : 80)) return scheme + host + target;
  return scheme + host + ":" + std::to_string(port) + target;
}
