// The server's own data: reference lists from the seed, and what the
// clients send (lessons, screenshots, courseware registry, fault reports).
// One SQLite connection shared by the request threads behind a lock.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>
#include <vector>

namespace devserver {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::system_clock;

struct LessonStart {
  std::string schoolID, gradeID, classesID, teacherID, subjectID, deviceID, offLine;
};

struct LessonPreset {
  std::string deviceID, teacherID, schoolID, gradeID, classesID, subjectID;
  long long timeDiff = 0;
};

struct Courseware {
  std::string hash, processID, schoolID, gradeID, classesID, subjectID, catalogID, teacherID;
  std::string fileNameGbk;  // as the client sent it, in its code page
  std::string path;
};

struct Repair {
  std::string schoolID, gradeID, classID, teacherID, tel, faultDetail, address;
};

class DevData {
 public:
  DevData() = default;
  ~DevData();
  DevData(const DevData&) = delete;
  DevData& operator=(const DevData&) = delete;

  // Opens `folder`/devserver.db, creating it from `seedSql` when it is new
  // (or when `reset`); an empty folder keeps everything in memory.
  bool open(const std::string& folder, const std::string& seedSql, bool reset, std::string& error);

  // Reference lists, records keyed as the client reads them. Errors of the
  // data base throw std::runtime_error.
  Json teachersOfSchool(const std::string& schoolID);
  Json schoolsOfArea(const std::string& areaID);
  Json gradesOfSchool(const std::string& schoolID);
  Json classesOfGrade(const std::string& gradeID);
  Json subjectsOfGrade(const std::string& gradeID);
  Json catalogsOf(const std::string& schoolID, const std::string& gradeID, const std::string& subjectID);

  // A new lesson ends the device's running one; returns its processID.
  std::string startLesson(const LessonStart& start, Clock::time_point now);
  // A running lesson that reports exactly `timeDiff` whenever it is asked.
  Json presetLesson(const LessonPreset& preset, Clock::time_point now);
  bool endLesson(const std::string& deviceID);
  // The running lesson of a device with names and timeDiff; null when none.
  Json runningLesson(const std::string& deviceID, Clock::time_point now);

  // Counts a screenshot of a lesson and returns its number (1, 2, ...);
  // `storedAs` becomes `folder`/<number>.jpg, or empty with an empty folder.
  int addScreenshot(const std::string& processID, size_t size, const std::string& folder,
                    const std::string& filename, Clock::time_point now, std::string& storedAs);
  // The server path of a registered file, empty when the hash is unknown.
  bool knownPath(const std::string& hash, std::string& path);
  void registerCourseware(const Courseware& entry, Clock::time_point now);
  void insertRepair(const Repair& repair, Clock::time_point now);

  // "registry", "repairs", "lessons" or "screenshots" as a JSON list;
  // null for another name.
  Json table(const std::string& name);

 private:
  using Value = std::variant<std::string, long long>;
  // Runs one statement under the lock; `lastId` and `changes` receive what
  // it did when given.
  Json query(const std::string& sql, const std::vector<Value>& values, long long* lastId = nullptr,
             int* changes = nullptr);
  long long insert(const std::string& sql, const std::vector<Value>& values);
  void fail(const std::string& what);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace devserver
