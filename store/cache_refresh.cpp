// Replacing one scope of the cache (the teachers of one school, the grades of
// one school, ...) by the records of the server's answer. The old rows of
// the scope are deleted inside the same transaction as the new rows are
// inserted: a failing statement rolls back both, so the page keeps the rows
// it had instead of an empty list.
#include <algorithm>

#include "replies/json_func.h"
#include "store/connection.h"
#include "store/db_func.h"
#include "sys/guid.h"

namespace DB_Func {
namespace {

using Json_Func::JsonRecord;

// Runs the scope's delete (when asked) and one prepared insert per record,
// in the records' order; `insert` binds one record's values.
template <typename InsertRecord>
void replaceScope(const std::string& jsonPart, bool deleteOldRows, std::string_view deleteSql,
                  std::initializer_list<std::string_view> scopeIds, std::string_view insertSql,
                  InsertRecord insert) {
  Json_Func::RecordList records;
  if (!Json_Func::ReadDataRecords(jsonPart, records)) return;  // no answer to trust: keep the rows
  Connection connection(DatabasePath());
  Transaction transaction(connection);
  if (deleteOldRows) connection.execute(deleteSql, scopeIds);
  {
    Statement statement(connection, insertSql);
    for (const JsonRecord& record : records) insert(statement, record);
  }
  transaction.commit();
}

// The grades, classes and subjects: rows of an id and a name under one scope
// id, which is also their scope column.
void replaceNamedRows(const std::string& jsonPart, const std::string& scopeId, std::string_view deleteSql,
                      std::string_view insertSql, const char* idMember, const char* nameMember) {
  replaceScope(
      jsonPart, !scopeId.empty(), deleteSql, {scopeId}, insertSql,
      [&](Statement& insert, const JsonRecord& record) {
        insert.run({newGuidText(), record.text(idMember), SqlQuoteText(record.text(nameMember)), scopeId});
      });
}

}  // namespace

void RefreshTeachers(const std::string& jsonPart, const std::string& schoolId) {
  replaceScope(jsonPart, !schoolId.empty(), "delete from t_teacher where school_id=?", {schoolId},
               "insert into t_teacher(id,teacher_id,teacher_name,phone,school_id,acronym,email) "
               "values(?,?,?,?,?,?,?)",
               [&](Statement& insert, const JsonRecord& record) {
                 insert.run({newGuidText(), record.text("id"), SqlQuoteText(record.text("userName")),
                             SqlQuoteText(record.text("mobile")), schoolId, record.text("acronym"),
                             record.text("email")});
               });
}

void RefreshSchools(const std::string& jsonPart, const std::string& districtId) {
  // A school's district comes from its own record, not from the request.
  replaceScope(jsonPart, !districtId.empty(), "delete from t_school where qu_id=?", {districtId},
               "insert into t_school(id,school_id,school_name,qu_id) values(?,?,?,?)",
               [](Statement& insert, const JsonRecord& record) {
                 insert.run({newGuidText(), record.text("id"), SqlQuoteText(record.text("className")),
                             record.text("fatherID")});
               });
}

void RefreshGrades(const std::string& jsonPart, const std::string& schoolId) {
  replaceNamedRows(jsonPart, schoolId, "delete from t_grade where school_id=?",
                   "insert into t_grade(id,grade_id,grade_name,school_id) values(?,?,?,?)", "id",
                   "gradeName");
}

void RefreshClasses(const std::string& jsonPart, const std::string& gradeId) {
  replaceNamedRows(jsonPart, gradeId, "delete from t_class where grade_id=?",
                   "insert into t_class(id,class_id,class_name,grade_id) values(?,?,?,?)", "id",
                   "classesName");
}

void RefreshSubjects(const std::string& jsonPart, const std::string& gradeId) {
  replaceNamedRows(jsonPart, gradeId, "delete from t_subject where grade_id=?",
                   "insert into t_subject(id,subject_id,subject_name,grade_id) values(?,?,?,?)", "subjectID",
                   "subjectName");
}

void RefreshCatalogs(const std::string& jsonPart, const std::string& subjectId, const std::string& gradeId) {
  // Only the subject id decides whether the old rows go; the pair is the scope.
  replaceScope(jsonPart, !subjectId.empty(), "delete from t_catalog where subject_id=? and grade_id=?",
               {subjectId, gradeId},
               "insert into t_catalog(id,catalog_id,catalog_name,grade_id,subject_id) values(?,?,?,?,?)",
               [&](Statement& insert, const JsonRecord& record) {
                 // A character the code page lacks arrived as "?"; catalog
                 // names show a space in its place.
                 std::string name = record.text("catalogName");
                 std::replace(name.begin(), name.end(), '?', ' ');
                 insert.run({newGuidText(), record.text("id"), SqlQuoteText(name), gradeId, subjectId});
               });
}

}  // namespace DB_Func
