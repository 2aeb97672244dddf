// The login message as the lock screen hands it to the client: 27 items
// separated by "|", item 0 "online", the FTP user and password as protected
// text. The client splits the text at "|", skips leading blanks, lets quotes
// group and drops empty items, so a value that is empty, starts with a
// blank or holds "|", a quote, CR, LF or NUL would move or swallow the items
// after it. Such a value is refused here instead of being sent.
#pragma once

#include <cstdint>
#include <string>

// The values of one login, GBK text as everywhere in the client. The FTP
// user and password are plain here and protected in the message.
struct LoginValues {
  std::string teacherID, teacherName, teacherPhone;
  std::string schoolID, schoolName;
  std::string provinceID, provinceName;
  std::string cityID, cityName;
  std::string areaID, areaName;
  std::string serverUrl;
  std::string lockScreenFlag;         // "1": the client swallows F4
  std::string screenshotIntervalSec;  // decimal
  std::string ftpHost, ftpPort;
  std::string ftpUser, ftpPassword;
  std::string latestVersion;
  std::string upgradeVersionNumber;
  std::string upgradeInfoUrl;
};

struct LoginTextResult {
  std::string text;     // the message (GBK); empty when refused
  std::string problem;  // why it was refused (GBK, for the screen); empty when built
};

// Builds the message. `userSeed` and `passwordSeed` start the two protected
// texts (any byte; the sender picks them at random).
LoginTextResult buildLoginText(const LoginValues& values, uint8_t userSeed, uint8_t passwordSeed);
