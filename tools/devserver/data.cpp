#include "tools/devserver/data.h"

#include <filesystem>
#include <stdexcept>

#include "sys/text_codec.h"
#include "tools/devserver/clock_text.h"

namespace devserver {

namespace {

// What the clients send. Kept apart from the seed so that a seed of one's
// own only has to hold the reference lists. Lesson ids count on from 70000,
// the way the school's server numbers them.
const char kRuntimeSchema[] = R"(
CREATE TABLE IF NOT EXISTS lessons (
  process_id INTEGER PRIMARY KEY AUTOINCREMENT,
  device_id TEXT NOT NULL, teacher_id TEXT NOT NULL, school_id TEXT NOT NULL,
  grade_id TEXT NOT NULL, classes_id TEXT NOT NULL, subject_id TEXT NOT NULL,
  off_line TEXT NOT NULL DEFAULT '', begin_time TEXT NOT NULL, begin_epoch INTEGER NOT NULL,
  fixed_time_diff INTEGER, ended INTEGER NOT NULL DEFAULT 0);
INSERT INTO sqlite_sequence(name, seq)
  SELECT 'lessons', 70000 WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'lessons');
CREATE TABLE IF NOT EXISTS screenshots (
  id INTEGER PRIMARY KEY AUTOINCREMENT, process_id TEXT NOT NULL, number INTEGER NOT NULL,
  size INTEGER NOT NULL, stored_as TEXT NOT NULL, filename TEXT NOT NULL, time TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS courseware (
  id INTEGER PRIMARY KEY AUTOINCREMENT, hash TEXT NOT NULL, process_id TEXT NOT NULL,
  school_id TEXT NOT NULL, grade_id TEXT NOT NULL, classes_id TEXT NOT NULL, subject_id TEXT NOT NULL,
  catalog_id TEXT NOT NULL, teacher_id TEXT NOT NULL, file_name TEXT NOT NULL, file_name_gbk TEXT NOT NULL,
  path TEXT NOT NULL, time TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS courseware_hash ON courseware(hash);
CREATE TABLE IF NOT EXISTS repairs (
  id INTEGER PRIMARY KEY AUTOINCREMENT, school_id TEXT NOT NULL, grade_id TEXT NOT NULL,
  class_id TEXT NOT NULL, teacher_id TEXT NOT NULL, tel TEXT NOT NULL, fault_detail TEXT NOT NULL,
  address TEXT NOT NULL, time TEXT NOT NULL);
)";

long long epochSeconds(Clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
}

// A lesson with every name the client shows, joined from the reference lists.
const char kLessonSelect[] = R"(
SELECT l.teacher_id AS teacherID, COALESCE(t.name, '') AS userName, COALESCE(t.mobile, '') AS mobile,
       l.school_id AS schoolID, COALESCE(s.name, '') AS schoolName,
       l.grade_id AS gradeID, COALESCE(g.name, '') AS gradeName,
       l.classes_id AS classesID, COALESCE(c.name, '') AS classesName,
       l.subject_id AS subjectID, COALESCE(j.name, '') AS subjectName,
       CAST(l.process_id AS TEXT) AS processID, l.begin_time AS beginTime,
       COALESCE(l.fixed_time_diff, ?1 - l.begin_epoch) AS timeDiff
FROM lessons l
LEFT JOIN teachers t ON t.id = l.teacher_id
LEFT JOIN schools s ON s.id = l.school_id
LEFT JOIN grades g ON g.id = l.grade_id
LEFT JOIN classes c ON c.id = l.classes_id
LEFT JOIN subjects j ON j.id = l.subject_id
)";

}  // namespace

DevData::~DevData() {
  if (db_) sqlite3_close(db_);
}

bool DevData::open(const std::string& folder, const std::string& seedSql, bool reset, std::string& error) {
  std::string file = ":memory:";
  bool fresh = true;
  if (!folder.empty()) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    file = (std::filesystem::path(folder) / "devserver.db").string();
    if (reset) std::filesystem::remove(file, code);
    fresh = !std::filesystem::exists(file, code);
  }
  if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) {
    error = "cannot open " + file + ": " + sqlite3_errmsg(db_);
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  auto run = [this, &error](const std::string& sql, const char* what) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = std::string(what) + ": " + (message ? message : "unknown error");
    sqlite3_free(message);
    return false;
  };
  if (fresh && !run("BEGIN;" + seedSql + ";COMMIT;", "seed")) return false;
  return run(kRuntimeSchema, "schema");
}

void DevData::fail(const std::string& what) { throw std::runtime_error(what + ": " + sqlite3_errmsg(db_)); }

Json DevData::query(const std::string& sql, const std::vector<Value>& values, long long* lastId,
                    int* changes) {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) fail("prepare");
  for (size_t i = 0; i < values.size(); ++i) {
    if (const auto* text = std::get_if<std::string>(&values[i])) {
      sqlite3_bind_text(statement, static_cast<int>(i + 1), text->data(), static_cast<int>(text->size()),
                        SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_int64(statement, static_cast<int>(i + 1), std::get<long long>(values[i]));
    }
  }
  Json rows = Json::array();
  int step;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    Json row = Json::object();
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const char* name = sqlite3_column_name(statement, column);
      switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
          row[name] = sqlite3_column_int64(statement, column);
          break;
        case SQLITE_NULL:
          row[name] = "";
          break;
        default: {
          const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
          row[name] = std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement, column)));
        }
      }
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  if (step != SQLITE_DONE) fail("query");
  if (lastId) *lastId = sqlite3_last_insert_rowid(db_);
  if (changes) *changes = sqlite3_changes(db_);
  return rows;
}

long long DevData::insert(const std::string& sql, const std::vector<Value>& values) {
  long long id = 0;
  query(sql, values, &id);
  return id;
}

Json DevData::teachersOfSchool(const std::string& schoolID) {
  return query(
      "SELECT id, name AS userName, mobile, acronym, email FROM teachers WHERE school_id = ?1 ORDER BY id",
      {schoolID});
}

Json DevData::schoolsOfArea(const std::string& areaID) {
  return query(
      "SELECT id, name AS className, area_id AS fatherID FROM schools WHERE area_id = ?1 ORDER BY id",
      {areaID});
}

Json DevData::gradesOfSchool(const std::string& schoolID) {
  return query("SELECT id, name AS gradeName FROM grades WHERE school_id = ?1 ORDER BY id", {schoolID});
}

Json DevData::classesOfGrade(const std::string& gradeID) {
  return query("SELECT id, name AS classesName FROM classes WHERE grade_id = ?1 ORDER BY id", {gradeID});
}

Json DevData::subjectsOfGrade(const std::string& gradeID) {
  return query(
      "SELECT s.id AS subjectID, s.name AS subjectName FROM grade_subjects gs JOIN subjects s ON s.id = "
      "gs.subject_id WHERE gs.grade_id = ?1 ORDER BY s.id",
      {gradeID});
}

Json DevData::catalogsOf(const std::string& schoolID, const std::string& gradeID,
                         const std::string& subjectID) {
  // The grade belongs to one school; a school id that does not own it finds
  // nothing, an empty one is not checked.
  return query(
      "SELECT c.id, c.name AS catalogName FROM catalogs c JOIN grades g ON g.id = c.grade_id "
      "WHERE c.grade_id = ?1 AND c.subject_id = ?2 AND (?3 = '' OR g.school_id = ?3) ORDER BY c.id",
      {gradeID, subjectID, schoolID});
}

std::string DevData::startLesson(const LessonStart& start, Clock::time_point now) {
  endLesson(start.deviceID);
  const long long id = insert(
      "INSERT INTO lessons(device_id, teacher_id, school_id, grade_id, classes_id, subject_id, off_line, "
      "begin_time, begin_epoch) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
      {start.deviceID, start.teacherID, start.schoolID, start.gradeID, start.classesID, start.subjectID,
       start.offLine, localTimeText(now), epochSeconds(now)});
  return std::to_string(id);
}

Json DevData::presetLesson(const LessonPreset& preset, Clock::time_point now) {
  endLesson(preset.deviceID);
  const Clock::time_point begin = now - std::chrono::seconds(preset.timeDiff);
  const long long id = insert(
      "INSERT INTO lessons(device_id, teacher_id, school_id, grade_id, classes_id, subject_id, begin_time, "
      "begin_epoch, fixed_time_diff) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
      {preset.deviceID, preset.teacherID, preset.schoolID, preset.gradeID, preset.classesID, preset.subjectID,
       localTimeText(begin), epochSeconds(begin), preset.timeDiff});
  Json rows = query(std::string(kLessonSelect) + " WHERE l.process_id = ?2", {epochSeconds(now), id});
  return rows.empty() ? Json() : rows[0];
}

bool DevData::endLesson(const std::string& deviceID) {
  int changes = 0;
  query("UPDATE lessons SET ended = 1 WHERE device_id = ?1 AND ended = 0", {deviceID}, nullptr, &changes);
  return changes > 0;
}

Json DevData::runningLesson(const std::string& deviceID, Clock::time_point now) {
  // Computers without a disk serial number all send an empty id; such a
  // lesson must not be taken up by another computer.
  if (deviceID.empty()) return Json();
  Json rows = query(std::string(kLessonSelect) +
                        " WHERE l.device_id = ?2 AND l.ended = 0 ORDER BY l.process_id DESC LIMIT 1",
                    {epochSeconds(now), deviceID});
  return rows.empty() ? Json() : rows[0];
}

int DevData::addScreenshot(const std::string& processID, size_t size, const std::string& folder,
                           const std::string& filename, Clock::time_point now, std::string& storedAs) {
  // Numbered in one statement, so two uploads at once never share a number.
  const long long id = insert(
      "INSERT INTO screenshots(process_id, number, size, stored_as, filename, time) "
      "SELECT ?1, COUNT(*) + 1, ?2, CASE WHEN ?3 = '' THEN '' ELSE ?3 || '/' || (COUNT(*) + 1) || '.jpg' "
      "END, "
      "?4, ?5 FROM screenshots WHERE process_id = ?1",
      {processID, static_cast<long long>(size), folder, filename, localTimeText(now)});
  Json rows = query("SELECT number, stored_as FROM screenshots WHERE id = ?1", {id});
  storedAs = rows.at(0).at("stored_as").get<std::string>();
  return static_cast<int>(rows.at(0).at("number").get<long long>());
}

bool DevData::knownPath(const std::string& hash, std::string& path) {
  Json rows = query(
      "SELECT path FROM courseware WHERE hash = ?1 AND hash <> '' AND path <> '' ORDER BY id DESC LIMIT 1",
      {hash});
  if (rows.empty()) return false;
  path = rows[0]["path"].get<std::string>();
  return true;
}

void DevData::registerCourseware(const Courseware& entry, Clock::time_point now) {
  insert(
      "INSERT INTO courseware(hash, process_id, school_id, grade_id, classes_id, subject_id, catalog_id, "
      "teacher_id, file_name, file_name_gbk, path, time) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
      "?11, ?12)",
      {entry.hash, entry.processID, entry.schoolID, entry.gradeID, entry.classesID, entry.subjectID,
       entry.catalogID, entry.teacherID, text::gbkToUtf8(entry.fileNameGbk), entry.fileNameGbk, entry.path,
       localTimeText(now)});
}

void DevData::insertRepair(const Repair& repair, Clock::time_point now) {
  insert(
      "INSERT INTO repairs(school_id, grade_id, class_id, teacher_id, tel, fault_detail, address, time) "
      "VALUES "
      "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
      {repair.schoolID, repair.gradeID, repair.classID, repair.teacherID, repair.tel, repair.faultDetail,
       repair.address, localTimeText(now)});
}

Json DevData::table(const std::string& name) {
  if (name == "registry") {
    return query(
        "SELECT hash, process_id AS processID, school_id AS schoolID, grade_id AS gradeID, classes_id AS "
        "classesID, subject_id AS subjectID, catalog_id AS catalogID, teacher_id AS teacherID, file_name AS "
        "fileName, lower(hex(file_name_gbk)) AS fileNameGbkHex, path, time FROM courseware ORDER BY id",
        {});
  }
  if (name == "repairs") {
    return query(
        "SELECT school_id AS schoolID, grade_id AS gradeID, class_id AS classID, teacher_id AS teacherID, "
        "tel, "
        "fault_detail AS faultDetail, address, time FROM repairs ORDER BY id",
        {});
  }
  if (name == "lessons") {
    return query(
        "SELECT CAST(process_id AS TEXT) AS processID, device_id AS deviceID, teacher_id AS teacherID, "
        "school_id "
        "AS schoolID, grade_id AS gradeID, classes_id AS classesID, subject_id AS subjectID, off_line AS "
        "offLine, "
        "begin_time AS beginTime, ended FROM lessons ORDER BY process_id",
        {});
  }
  if (name == "screenshots") {
    return query(
        "SELECT process_id AS processID, number, size, stored_as AS storedAs, filename, time FROM "
        "screenshots "
        "ORDER BY id",
        {});
  }
  return Json();
}

}  // namespace devserver
