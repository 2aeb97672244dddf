// Where a screenshot is kept and where it is sent: pure text routines, GBK in
// and GBK out like all text in the client.
//
// Below the program folder a picture lies in
//   screen_pic / yyyy-mm / teacher name + phone / processID / hh.mm__N.jpg
// with the capture month, the teacher's name and phone run together, the
// lesson id, and the capture time with the picture counter.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// "2024-05": year and month of `date`.
std::string yearMonthText(const std::tm& date);

// "09.05__2.jpg": hour and minute of `time` (24-hour, two digits each), two
// underscores, the counter in decimal.
std::string screenshotFileName(const std::tm& time, int counter);

// The folder levels below the program folder, in order. A level that would
// be empty (no lesson id, no teacher) is left out, so the picture lands one
// level higher. Names come from the login message and the server, so a level
// can never climb out of its parent: "/" and NUL bytes become "_" and a level
// of "." or ".." is written with underscores.
std::vector<std::string> screenshotFolderLevels(const std::tm& date, const std::string& teacherName,
                                                const std::string& teacherPhone,
                                                const std::string& processID);

// "http://" (or "https://" for a secure server) + host + target, with ":" +
// port after the host unless the port is the scheme's own (80 or 443).
std::string screenshotUploadUrl(const std::string& host, int port, bool secure, const std::string& target);
