// The lists the pages fill at once, before the server has answered. Each
// query reads one scope; "table order" (no ORDER BY) is the order in which a
// refresh inserted the server's records.
#include "store/connection.h"
#include "store/db_func.h"

namespace DB_Func {
namespace {

RowSet run(std::string_view sql, std::initializer_list<std::string_view> ids = {}) {
  Connection connection(DatabasePath());
  return connection.query(sql, ids);
}

}  // namespace

RowSet QueryRecentTeachers(const std::string& schoolId) {
  return run(
      "Select teacher_id,teacher_name,phone  from t_recent_list where  school_id=? ORDER BY add_date DESC "
      "limit 0,10",
      {schoolId});
}

RowSet QueryTeachers(const std::string& schoolId) {
  return run("Select teacher_id,teacher_name,phone  from t_teacher where  school_id=? ORDER BY acronym",
             {schoolId});
}

RowSet QuerySchools(const std::string& districtId) {
  return run("Select school_id,school_name,qu_id  from t_school where  qu_id=?", {districtId});
}

RowSet QueryProvinces() { return run("Select provinceID,province  from hat_province ORDER BY provinceID "); }

RowSet QueryCities(const std::string& provinceId) {
  return run("Select cityID,city  from hat_city where father=? ORDER BY cityID ", {provinceId});
}

RowSet QueryAreas(const std::string& cityId) {
  return run("Select areaID,area  from hat_area where father=? ORDER BY areaID ", {cityId});
}

RowSet QueryGrades(const std::string& schoolId) {
  return run("Select grade_id,grade_name from t_grade where  school_id=?", {schoolId});
}

RowSet QueryClasses(const std::string& gradeId) {
  return run("Select class_id,class_name from t_class where  grade_id=?", {gradeId});
}

RowSet QuerySubjects(const std::string& gradeId) {
  return run("Select subject_id,subject_name from t_subject where  grade_id=?", {gradeId});
}

RowSet QueryCatalogs(const std::string& subjectId, const std::string& gradeId) {
  return run("Select catalog_id,catalog_name from t_catalog where  subject_id=? and grade_id=?",
             {subjectId, gradeId});
}

}  // namespace DB_Func
