#include "tools/devserver/operations.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "tools/devserver/clock_text.h"

namespace devserver {

namespace {

constexpr size_t kBigReplyBytes = 5 * 1024 * 1024;

std::string param(const Params& params, const std::string& name) {
  const auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

// Every reply object begins with "status"; the client finds the JSON by
// looking for {"status" and reads its values from the other members.
Json success() {
  Json reply;
  reply["status"] = "success";
  reply["msg"] = "操作成功";
  return reply;
}

Json failure(const std::string& message) {
  Json reply;
  reply["status"] = "error";
  reply["msg"] = message;
  return reply;
}

Json listReply(Json records) {
  Json reply = success();
  reply["jsonData"] = std::move(records);
  return reply;
}

// Appends records shaped like `sample`, with their own ids and names, until
// the list holds about 5 MB of text.
void padList(Json& list, Json sample, const std::string& idKey, const std::string& nameKey,
             const std::string& namePrefix) {
  sample[idKey] = "9000000";
  sample[nameKey] = namePrefix + "000000";
  const size_t recordBytes = sample.dump().size() + 1;
  const size_t count = kBigReplyBytes / recordBytes + 1;
  for (size_t n = 1; n <= count; ++n) {
    const std::string number = std::to_string(n);
    sample[idKey] = std::to_string(9000000 + n);
    sample[nameKey] = namePrefix + std::string(6 - std::min<size_t>(6, number.size()), '0') + number;
    list.push_back(sample);
  }
}

// A name the client sent becomes a folder name; anything but letters, digits,
// "-" and "_" could climb out of the screenshot folder.
std::string folderName(const std::string& id) {
  std::string name;
  for (char c : id) {
    const bool plain =
        (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
    name.push_back(plain ? c : '_');
  }
  return name.empty() ? "_" : name;
}

// "yyyy-MM-dd HH:mm:ss" as a local time; false for anything else.
bool readLocalTime(const std::string& text, Clock::time_point& when) {
  std::tm parts{};
  const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parts);
  if (end == nullptr || *end != '\0') return false;
  parts.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&parts);
  if (seconds == static_cast<std::time_t>(-1)) return false;
  when = Clock::from_time_t(seconds);
  return true;
}

}  // namespace

bool isOperation(const std::string& op) {
  static const std::set<std::string> operations = {
      "getAreaData",    "getGradeInfo",  "getSubject", "insertRepairs",  "getStartCountTime",
      "postScreenShot", "getCouterTime", "getCatalog", "findFileByHash", "postCourseware"};
  return operations.count(op) > 0;
}

Reply Operations::answer(const std::string& op, const Params& params, const Form* form, bool big) {
  Json reply;
  if (op == "getAreaData") {
    reply = areaData(params);
    if (big) {
      const bool teachers = param(params, "type") == "5";
      Json sample = teachers ? Json{{"id", ""},
                                    {"userName", ""},
                                    {"mobile", "13900000000"},
                                    {"acronym", "csjs"},
                                    {"email", "test@example.edu.cn"}}
                             : Json{{"id", ""}, {"className", ""}, {"fatherID", param(params, "id")}};
      padList(reply["jsonData"], sample, "id", teachers ? "userName" : "className",
              teachers ? "测试教师" : "测试学校");
    }
  } else if (op == "getGradeInfo") {
    reply = gradeInfo(params);
    if (big) {
      const bool classes = !param(params, "gradeID").empty();
      const std::string name = classes ? "classesName" : "gradeName";
      padList(reply["jsonData"], Json{{"id", ""}, {name, ""}}, "id", name, classes ? "测试班级" : "测试年级");
    }
  } else if (op == "getSubject") {
    reply = listReply(data_.subjectsOfGrade(param(params, "gradeID")));
    if (big) {
      padList(reply["jsonData"], Json{{"subjectID", ""}, {"subjectName", ""}}, "subjectID", "subjectName",
              "测试科目");
    }
  } else if (op == "getCatalog") {
    reply = listReply(
        data_.catalogsOf(param(params, "schoolID"), param(params, "gradeID"), param(params, "subjectID")));
    if (big)
      padList(reply["jsonData"], Json{{"id", ""}, {"catalogName", ""}}, "id", "catalogName", "测试目录");
  } else {
    if (op == "getStartCountTime") {
      reply = startCountTime(params);
    } else if (op == "getCouterTime") {
      reply = counterTime(params);
    } else if (op == "postScreenShot") {
      reply = screenShot(params, form);
    } else if (op == "findFileByHash") {
      reply = fileByHash(params);
    } else if (op == "postCourseware") {
      reply = courseware(params);
    } else {
      reply = repairs(params);
    }
    // Replies without a list grow by a member the client does not read.
    if (big) {
      std::string padding;
      while (padding.size() < kBigReplyBytes) padding += "填充数据";
      reply["padding"] = std::move(padding);
    }
  }
  Reply result;
  result.contentType = kJsonType;
  result.body = reply.dump(-1, ' ', false, Json::error_handler_t::replace);
  return result;
}

Json Operations::areaData(const Params& params) {
  const std::string type = param(params, "type");
  const std::string id = param(params, "id");
  if (type == "5") return listReply(data_.teachersOfSchool(id));
  if (type == "4") return listReply(data_.schoolsOfArea(id));
  Json reply = failure("不支持的类型：" + type);
  reply["jsonData"] = Json::array();
  return reply;
}

Json Operations::gradeInfo(const Params& params) {
  // The same operation lists the grades of a school, or the classes of a
  // grade when a grade is named.
  const std::string gradeID = param(params, "gradeID");
  if (!gradeID.empty()) return listReply(data_.classesOfGrade(gradeID));
  return listReply(data_.gradesOfSchool(param(params, "schoolID")));
}

Json Operations::startCountTime(const Params& params) {
  LessonStart start;
  start.schoolID = param(params, "schoolID");
  start.gradeID = param(params, "gradeID");
  start.classesID = param(params, "classesID");
  start.teacherID = param(params, "teacherID");
  start.subjectID = param(params, "subjectID");
  start.deviceID = param(params, "deviceID");
  start.offLine = param(params, "offLine");
  if (start.teacherID.empty() || start.schoolID.empty()) return failure("缺少教师或学校");
  // A lesson the client started while it could not reach us began at the
  // time it names.
  Clock::time_point began = Clock::now();
  if (start.offLine == "1") {
    if (refuseOffline_) return failure("不接受离线上课记录");
    if (!readLocalTime(param(params, "beginTime"), began)) return failure("离线上课缺少开始时间");
  }
  Json reply = success();
  reply["processID"] = data_.startLesson(start, began);
  return reply;
}

Json Operations::counterTime(const Params& params) {
  const Clock::time_point now = Clock::now();
  Json lesson = data_.runningLesson(param(params, "hardDiskID"), now);
  Json reply = success();
  if (lesson.is_null()) {
    reply["time"] = "false";
    reply["jsonData"] = Json::array();
  } else {
    reply["time"] = localTimeText(now);
    reply["jsonData"] = Json::array({std::move(lesson)});
  }
  return reply;
}

Json Operations::screenShot(const Params& params, const Form* form) {
  const FormPart* file = nullptr;
  if (form) {
    for (const FormPart& part : form->parts) {
      if (part.name == "screenFile") file = &part;
    }
  }
  if (!file) return failure("没有收到截图文件");
  Clock::time_point taken = Clock::now();
  if (param(params, "offLine") == "1") {
    if (refuseOffline_) return failure("不接受离线截图");
    if (!readLocalTime(param(params, "shotTime"), taken)) return failure("离线截图缺少截图时间");
  }
  const std::string processID = param(params, "processID");
  const std::string folder = dataFolder_.empty() ? std::string() : "screens/" + folderName(processID);
  std::string storedAs;
  const int number =
      data_.addScreenshot(processID, file->data.size(), folder, file->filename, taken, storedAs);
  if (!storedAs.empty()) {
    const std::filesystem::path path = std::filesystem::path(dataFolder_) / storedAs;
    std::error_code code;
    std::filesystem::create_directories(path.parent_path(), code);
    std::ofstream out(path, std::ios::binary);
    out.write(file->data.data(), static_cast<std::streamsize>(file->data.size()));
    if (!out) return failure("保存截图失败");
  }
  Json reply = success();
  reply["number"] = number;
  return reply;
}

Json Operations::fileByHash(const Params& params) {
  std::string path;
  const bool known = data_.knownPath(param(params, "hash"), path);
  Json reply = success();
  reply["exist"] = known;
  reply["path"] = path;
  return reply;
}

Json Operations::courseware(const Params& params) {
  Courseware entry;
  entry.hash = param(params, "hash");
  entry.processID = param(params, "processID");
  entry.schoolID = param(params, "schoolID");
  entry.gradeID = param(params, "gradeID");
  entry.classesID = param(params, "classesID");
  entry.subjectID = param(params, "subjectID");
  entry.catalogID = param(params, "catalogID");
  entry.teacherID = param(params, "teacherID");
  entry.fileNameGbk = param(params, "fileName");
  entry.path = param(params, "path");
  if (entry.hash.empty() || entry.path.empty()) return failure("缺少文件信息");
  data_.registerCourseware(entry, Clock::now());
  Json reply = success();
  reply["jsonData"] = Json{{"insert", true}};
  return reply;
}

Json Operations::repairs(const Params& params) {
  Repair repair;
  repair.schoolID = param(params, "schoolID");
  repair.gradeID = param(params, "gradeID");
  repair.classID = param(params, "classID");
  repair.teacherID = param(params, "teacherID");
  repair.tel = param(params, "tel");
  repair.faultDetail = param(params, "faultDetail");
  repair.address = param(params, "address");
  // A report that names no school or teacher cannot be followed up.
  const bool accepted = !repair.schoolID.empty() && !repair.teacherID.empty();
  if (accepted) data_.insertRepair(repair, Clock::now());
  Json reply = success();
  reply["jsonData"] = Json{{"insert", accepted}};
  return reply;
}

}  // namespace devserver
