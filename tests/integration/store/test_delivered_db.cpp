// The edu.db that the build puts into the program folder: every table of
// store/schema.sql and no row at all, so a new classroom PC asks for its
// server address and holds nobody's data. The demo's copy, made from the
// same tables and store/demo_seed.sql, fills every list the client reads.
#include <gtest/gtest.h>

#include "store/db_func.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

std::vector<std::string> tableNames(storetest::EduDb& db) {
  std::vector<std::string> names;
  for (const auto& row : db.rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"))
    names.push_back(row[0]);
  return names;
}

TEST(DeliveredDatabase, HasEveryTableOfTheSchemaAndNoRows) {
  storetest::EduDb fromSchema;
  storetest::EduDb delivered("");
  ASSERT_EQ(delivered.exec("ATTACH DATABASE '" + testsupport::programDir() + "/edu.db' AS delivered"),
            SQLITE_OK);

  std::vector<std::string> deliveredNames;
  for (const auto& row :
       delivered.rows("SELECT name FROM delivered.sqlite_master WHERE type = 'table' ORDER BY name"))
    deliveredNames.push_back(row[0]);
  const std::vector<std::string> schemaNames = tableNames(fromSchema);
  ASSERT_FALSE(schemaNames.empty());
  for (const std::string& name : schemaNames)
    EXPECT_NE(std::find(deliveredNames.begin(), deliveredNames.end(), name), deliveredNames.end()) << name;
  for (const std::string& name : deliveredNames) {
    EXPECT_EQ(delivered.rows("SELECT count(*) FROM delivered.\"" + name + "\""), (storetest::Rows{{"0"}}))
        << name;
  }

  // No stored login: the client asks for the address.
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(testsupport::programDir()));
  EXPECT_EQ(DB_Func::ReadLoginInfo().rowCount(), 0u);
}

TEST(DemoDatabase, HoldsTheDemoListsAndTheServerAddress) {
  QTemporaryDir folder;
  ASSERT_TRUE(testsupport::seedDemoDatabase(folder.path().toStdString()));
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(folder.path().toStdString()));
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
  DB_Func::LocateDatabaseIn(folder.path().toStdString() + "/none");
}

}  // namespace
