// How values come out of edu.db: converted by their column's declared type,
// trimmed, NULL as empty text, names decoded to GBK; and where the client
// finds the file and what happens without it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "store/connection.h"
#include "store/db_func.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

using storetest::allRows;
using storetest::EduDb;

struct ValueCase {
  const char* declaredType;  // "" for a column without one
  const char* storedLiteral;
  std::string expected;  // GBK
};

TEST(DbValues, ConvertedByDeclaredTypeThenTrimmed) {
  const std::vector<ValueCase> cases = {
      {"INTEGER", "7", "7"},
      {"INTEGER", "'007'", "7"},  // INTEGER affinity turns the text into a number
      {"integer", "' 12 '", "12"},
      {"BOOLEAN", "1", "1"},
      {"INTEGER", "2.9", "2"},
      {"TEXT", "'007'", "007"},
      {"TEXT", "7", "7"},
      {"TEXT", "'\t 张三 \r\n'", text::utf8ToGbk("张三")},
      {"VARCHAR(20)", "'a b '", "a b"},
      {"TEXT", "NULL", ""},
      {"INTEGER", "NULL", ""},
      {"REAL", "2.5", "2.5"},
      {"DOUBLE", "'0.125'", "0.125"},
      {"FLOAT", "3", "3"},
      {"NUMERIC", "'3.0'", "3"},
      {"BLOB", "x'41FF42'",
       "A\xFF"
       "B"},  // raw bytes, not decoded
      {"", "x'4142'", "AB"},
      {"", "42", "42"},
      {"", "1.5", "1.5"},
      {"", "'李 '", text::utf8ToGbk("李")},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(std::string(c.declaredType) + " holding " + c.storedLiteral);
    EduDb db(std::string("CREATE TABLE v (value ") + c.declaredType + ");");
    db.exec(std::string("INSERT INTO v VALUES (") + c.storedLiteral + ");");
    DB_Func::Connection connection(db.path());
    EXPECT_EQ(allRows(connection.query("SELECT value FROM v")), storetest::Rows{{c.expected}});
  }
}

TEST(DbValues, AColumnWithoutDeclaredTypeFollowsEachValue) {
  EduDb db("CREATE TABLE v (value);");
  DB_Func::Connection connection(db.path());
  EXPECT_EQ(allRows(connection.query("SELECT 1+1, 'x ', 0.5, NULL")),
            (storetest::Rows{{"2", "x", "0.5", ""}}));
}

TEST(DbValues, LoginInfoYieldsEveryRowWithTheNamesInGbk) {
  EduDb db;
  db.exec(
      "INSERT INTO t_login_info(teacher_id,teacher_name,http_url) VALUES ('7','王芳 ','10.0.0.5:8080');"
      "INSERT INTO t_login_info(teacher_id,teacher_name,http_url) VALUES ('8',NULL,'10.0.0.6');");
  DB_Func::RowSet login = DB_Func::ReadLoginInfo();
  ASSERT_EQ(login.rowCount(), 2u);
  EXPECT_EQ(login.columnCount(), 13u);
  EXPECT_EQ(login.text("HTTP_URL"), "10.0.0.5:8080");
  EXPECT_EQ(login.text("teacher_name"), text::utf8ToGbk("王芳"));
  EXPECT_EQ(login.text("qu_id"), "");
  login.next();
  EXPECT_EQ(login.text("http_url"), "10.0.0.6");
  EXPECT_EQ(login.text("teacher_name"), "");
}

TEST(DbLocation, FoundOnlyWhenTheFileIsThereWhenLookedFor) {
  QTemporaryDir folder;
  const std::string path = folder.path().toStdString();
  EXPECT_FALSE(DB_Func::LocateDatabaseIn(path));
  EXPECT_EQ(DB_Func::DatabasePath(), "");

  ASSERT_TRUE(testsupport::writeFile(path + "/edu.db", ""));
  EXPECT_EQ(DB_Func::DatabasePath(), "");  // placed later: not seen until looked for again
  EXPECT_TRUE(DB_Func::LocateDatabaseIn(path));
  EXPECT_EQ(DB_Func::DatabasePath(), path + "/edu.db");

  EXPECT_FALSE(DB_Func::LocateDatabaseIn(""));
  // The test program's own folder holds no edu.db.
  EXPECT_FALSE(DB_Func::LocateDatabase());
}

TEST(DbLocation, WithoutTheFileEveryOperationFailsAndCreatesNothing) {
  EXPECT_FALSE(DB_Func::LocateDatabaseIn(""));
  try {
    DB_Func::QueryGrades("1");
    FAIL() << "a query without edu.db succeeded";
  } catch (const DB_Func::DbError& error) {
    EXPECT_EQ(error.code(), SQLITE_ERROR);
    EXPECT_EQ(error.message(), "no such table: t_grade");
  }

  // A file that vanished after start-up is not made anew.
  QTemporaryDir folder;
  const std::string path = folder.path().toStdString() + "/edu.db";
  ASSERT_TRUE(testsupport::writeFile(path, ""));
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(folder.path().toStdString()));
  std::remove(path.c_str());
  try {
    DB_Func::QueryProvinces();
    FAIL() << "a query on a vanished edu.db succeeded";
  } catch (const DB_Func::DbError& error) {
    EXPECT_EQ(error.code(), SQLITE_CANTOPEN);
  }
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
}

}  // namespace
