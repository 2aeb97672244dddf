#include "server/http_url.h"

#include <initializer_list>
#include <utility>

#include "sys/text_codec.h"

namespace HttpUrl {
namespace {

using Parameter = std::pair<std::string_view, std::string_view>;

std::string target(std::string_view serverPath, std::string_view operation,
                   std::initializer_list<Parameter> parameters) {
  std::string result;
  result.reserve(256);
  result.append(serverPath).append("clientInterface-").append(operation).append("?appKey=").append(kAppKey);
  for (const auto& [name, value] : parameters) result.append("&").append(name).append("=").append(value);
  return result;
}

// The fault text and the address travel as UTF-8.
std::string encodeUtf8(std::string_view gbk) { return PercentEncode(text::gbkToUtf8(gbk)); }

bool keptAsIs(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!$'()*-.@_").find(static_cast<char>(c)) != std::string_view::npos;
}

// The disk serial goes into the target as the serial itself; one with a
// blank, "&", "%" or a byte above 127 (as some drives report) would break
// the request line or the query, so it goes percent-encoded. A serial of
// safe characters only comes out unchanged.
std::string deviceValue(std::string_view serial) { return PercentEncode(serial); }

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  text = text.substr(0, text.find('\0'));
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (keptAsIs(c)) {
      encoded += byte;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

std::string TeachersOfSchool(std::string_view serverPath, std::string_view schoolID) {
  return target(serverPath, "getAreaData", {{"type", "5"}, {"id", schoolID}});
}

std::string SchoolsOfDistrict(std::string_view serverPath, std::string_view areaID) {
  return target(serverPath, "getAreaData", {{"type", "4"}, {"id", areaID}});
}

std::string GradesOfSchool(std::string_view serverPath, std::string_view schoolID) {
  return target(serverPath, "getGradeInfo", {{"schoolID", schoolID}});
}

std::string ClassesOfGrade(std::string_view serverPath, std::string_view schoolID, std::string_view gradeID) {
  return target(serverPath, "getGradeInfo", {{"schoolID", schoolID}, {"gradeID", gradeID}});
}

std::string SubjectsOfGrade(std::string_view serverPath, std::string_view gradeID) {
  return target(serverPath, "getSubject", {{"gradeID", gradeID}});
}

std::string ReportFault(std::string_view serverPath, std::string_view schoolID, std::string_view gradeID,
                        std::string_view classID, std::string_view teacherID, std::string_view tel,
                        std::string_view faultDetail, std::string_view address) {
  const std::string encodedDetail = encodeUtf8(faultDetail);
  const std::string encodedAddress = encodeUtf8(address);
  return target(serverPath, "insertRepairs",
                {{"schoolID", schoolID},
                 {"gradeID", gradeID},
                 {"classID", classID},
                 {"teacherID", teacherID},
                 {"tel", tel},
                 {"faultDetail", encodedDetail},
                 {"address", encodedAddress}});
}

std::string StartLesson(std::string_view serverPath, std::string_view schoolID, std::string_view gradeID,
                        std::string_view classesID, std::string_view teacherID, std::string_view subjectID,
                        std::string_view deviceID, std::string_view offLine, std::string_view beginTime) {
  const std::string device = deviceValue(deviceID);
  return target(serverPath, "getStartCountTime",
                {{"schoolID", schoolID},
                 {"gradeID", gradeID},
                 {"classesID", classesID},
                 {"teacherID", teacherID},
                 {"subjectID", subjectID},
                 {"deviceID", device},
                 {"offLine", offLine},
                 {"beginTime", beginTime}});
}

std::string Screenshot(std::string_view serverPath, std::string_view processID, std::string_view schoolID,
                       std::string_view gradeID, std::string_view classesID, std::string_view teacherID,
                       std::string_view subjectID, std::string_view deviceID, std::string_view offLine,
                       std::string_view shotTime) {
  const std::string device = deviceValue(deviceID);
  return target(serverPath, "postScreenShot",
                {{"processID", processID},
                 {"schoolID", schoolID},
                 {"gradeID", gradeID},
                 {"classesID", classesID},
                 {"teacherID", teacherID},
                 {"subjectID", subjectID},
                 {"deviceID", device},
                 {"offLine", offLine},
                 {"shotTime", shotTime}});
}

std::string RunningLesson(std::string_view serverPath, std::string_view hardDiskID) {
  const std::string device = deviceValue(hardDiskID);
  return target(serverPath, "getCouterTime", {{"hardDiskID", device}});
}

std::string CatalogsOfSubject(std::string_view serverPath, std::string_view schoolID,
                              std::string_view gradeID, std::string_view subjectID) {
  return target(serverPath, "getCatalog",
                {{"schoolID", schoolID}, {"gradeID", gradeID}, {"subjectID", subjectID}});
}

std::string FindFileByHash(std::string_view serverPath, std::string_view hash) {
  return target(serverPath, "findFileByHash", {{"hash", hash}});
}

std::string RegisterCourseware(std::string_view serverPath, std::string_view hash, std::string_view processID,
                               std::string_view schoolID, std::string_view gradeID,
                               std::string_view classesID, std::string_view subjectID,
                               std::string_view catalogID, std::string_view teacherID,
                               std::string_view fileName, std::string_view path) {
  const std::string encodedName = PercentEncode(fileName);
  return target(serverPath, "postCourseware",
                {{"hash", hash},
                 {"processID", processID},
                 {"schoolID", schoolID},
                 {"gradeID", gradeID},
                 {"classesID", classesID},
                 {"subjectID", subjectID},
                 {"catalogID", catalogID},
                 {"teacherID", teacherID},
                 {"fileName", encodedName},
                 {"path", path}});
}

}  // namespace HttpUrl
