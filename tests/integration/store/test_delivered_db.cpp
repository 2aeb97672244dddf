// The edu.db that the build puts into the program folder: every table the
// client reads, the demo lists filled, and the server address in the first
// login row.
#include <gtest/gtest.h>

#include "store/db_func.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

TEST(DeliveredDatabase, HoldsTheDemoListsAndTheServerAddress) {
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(testsupport::programDir()));
  DB_Func::RowSet login = DB_Func::ReadLoginInfo();
  ASSERT_GE(login.rowCount(), 1u);
  EXPECT_EQ(login.text("http_url"), "127.0.0.1:8090");

  const std::vector<std::pair<const char*, std::function<DB_Func::RowSet()>>> lists = {
      {"provinces", [] { return DB_Func::QueryProvinces(); }},
      {"cities", [] { return DB_Func::QueryCities("110000"); }},
      {"districts", [] { return DB_Func::QueryAreas("110100"); }},
      {"schools", [] { return DB_Func::QuerySchools("110101"); }},
      {"teachers", [] { return DB_Func::QueryTeachers("1001"); }},
      {"recent teachers", [] { return DB_Func::QueryRecentTeachers("1001"); }},
      {"grades", [] { return DB_Func::QueryGrades("1001"); }},
      {"classes", [] { return DB_Func::QueryClasses("3001"); }},
      {"subjects", [] { return DB_Func::QuerySubjects("3001"); }},
      {"catalogs", [] { return DB_Func::QueryCatalogs("5001", "3001"); }},
  };
  for (const auto& [name, query] : lists) {
    SCOPED_TRACE(name);
    DB_Func::RowSet rows = query();
    ASSERT_GT(rows.rowCount(), 0u);
    EXPECT_FALSE(rows.text(1).empty());
  }

  DB_Func::RowSet teachers = DB_Func::QueryTeachers("1001");
  for (teachers.moveTo(0); !teachers.end(); teachers.next()) EXPECT_EQ(teachers.text("phone").size(), 11u);
  EXPECT_EQ(DB_Func::QueryProvinces().text("province"), text::utf8ToGbk("北京市"));
}

}  // namespace
