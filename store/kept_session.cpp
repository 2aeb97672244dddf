#include "store/kept_session.h"

#include <cstdlib>

#include "store/connection.h"
#include "store/db_func.h"

namespace DB_Func {

void KeepSession(const KeptSession& s) {
  Connection connection(DatabasePath());
  connection.execute(
      "INSERT OR REPLACE INTO t_kept_session(id, login_text, teacher_id, process_id, school_id, grade_id, "
      "grade_name, class_id, class_name, subject_id, subject_name, lesson_began, kept_at) "
      "VALUES (1,?,?,?,?,?,?,?,?,?,?,?,?)",
      {s.loginText, s.teacherID, s.lesson.processID, s.lesson.schoolID, s.lesson.gradeID, s.lesson.gradeName,
       s.lesson.classID, s.lesson.className, s.lesson.subjectID, s.lesson.subjectName,
       std::to_string(s.lessonBegan), std::to_string(s.keptAt)});
}

std::optional<KeptSession> ReadKeptSession() {
  Connection connection(DatabasePath());
  const RowSet row = connection.query("SELECT * FROM t_kept_session WHERE id = 1");
  if (row.rowCount() == 0) return std::nullopt;
  KeptSession s;
  s.loginText = row.text("login_text");
  s.teacherID = row.text("teacher_id");
  s.lesson.processID = row.text("process_id");
  s.lesson.schoolID = row.text("school_id");
  s.lesson.gradeID = row.text("grade_id");
  s.lesson.gradeName = row.text("grade_name");
  s.lesson.classID = row.text("class_id");
  s.lesson.className = row.text("class_name");
  s.lesson.subjectID = row.text("subject_id");
  s.lesson.subjectName = row.text("subject_name");
  s.lessonBegan = std::atoll(row.text("lesson_began").c_str());
  s.keptAt = std::atoll(row.text("kept_at").c_str());
  return s;
}

void ClearKeptSession() {
  Connection connection(DatabasePath());
  connection.execute("DELETE FROM t_kept_session");
}

}  // namespace DB_Func
