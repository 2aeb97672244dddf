// Request targets of the server's client interface: the path and query that
// follow the host in a URL. Each builder takes the server path (the path part
// of the server address, "/" or "/edu/") and then the request's values in the
// order the server expects them, and only concatenates: every parameter is
// always present, empty values included. Values are GBK text like all text in
// the client and are inserted unchanged, except the fault text and address
// (sent as percent-encoded UTF-8), the courseware file name (percent-encoded
// GBK) and the disk serial (`deviceID`, `hardDiskID`: percent-encoded, which
// leaves a serial of letters, digits and ! $ ' ( ) * - . @ _ as it is).
#pragma once

#include <string>
#include <string_view>

namespace HttpUrl {

// The client's fixed credential towards the server, sent with every request.
constexpr const char* kAppKey = "3b9d0e4a7f21c6585ad0e9b7c41f2a6d";

// Letters, digits and ! $ ' ( ) * - . @ _ stay, a space becomes "+", every
// other byte "%" and two lowercase hex digits. The text ends at a NUL byte.
std::string PercentEncode(std::string_view text);

// Teachers of a school (getAreaData, type 5).
std::string TeachersOfSchool(std::string_view serverPath, std::string_view schoolID);
// Schools of a district (getAreaData, type 4).
std::string SchoolsOfDistrict(std::string_view serverPath, std::string_view areaID);
std::string GradesOfSchool(std::string_view serverPath, std::string_view schoolID);
std::string ClassesOfGrade(std::string_view serverPath, std::string_view schoolID, std::string_view gradeID);
std::string SubjectsOfGrade(std::string_view serverPath, std::string_view gradeID);
std::string ReportFault(std::string_view serverPath, std::string_view schoolID, std::string_view gradeID,
                        std::string_view classID, std::string_view teacherID, std::string_view tel,
                        std::string_view faultDetail, std::string_view address);
std::string StartLesson(std::string_view serverPath, std::string_view schoolID, std::string_view gradeID,
                        std::string_view classesID, std::string_view teacherID, std::string_view subjectID,
                        std::string_view deviceID, std::string_view offLine, std::string_view beginTime);
std::string Screenshot(std::string_view serverPath, std::string_view processID, std::string_view schoolID,
                       std::string_view gradeID, std::string_view classesID, std::string_view teacherID,
                       std::string_view subjectID, std::string_view deviceID, std::string_view offLine,
                       std::string_view shotTime);
// The lesson that runs on this computer, if any (getCouterTime).
std::string RunningLesson(std::string_view serverPath, std::string_view hardDiskID);
std::string CatalogsOfSubject(std::string_view serverPath, std::string_view schoolID,
                              std::string_view gradeID, std::string_view subjectID);
std::string FindFileByHash(std::string_view serverPath, std::string_view hash);
// `fileName` is the file's name without folder and extension, in GBK.
std::string RegisterCourseware(std::string_view serverPath, std::string_view hash, std::string_view processID,
                               std::string_view schoolID, std::string_view gradeID,
                               std::string_view classesID, std::string_view subjectID,
                               std::string_view catalogID, std::string_view teacherID,
                               std::string_view fileName, std::string_view path);

}  // namespace HttpUrl
