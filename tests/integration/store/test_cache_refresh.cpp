// The reference-data cache against a real edu.db: a refresh replaces exactly
// the rows of its scope, in the server's order, with each member in its
// column; a reply that cannot be trusted, a failing insert or a locked file
// leaves the cached rows as they were.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "store/db_func.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

using nlohmann::json;
using storetest::allRows;
using storetest::EduDb;
using storetest::Rows;

// The JSON part of a reply as the reply handler hands it on: GBK text from
// {"status" to the end.
std::string reply(const json& records) {
  return text::utf8ToGbk(json{{"status", "success"}, {"jsonData", records}}.dump());
}

using text::gbk;

const char* kTeachersOf12And13 =
    "INSERT INTO t_teacher VALUES ('a','1','Old One ','1 ','12','a','');"
    "INSERT INTO t_teacher VALUES ('b','2','Old Two ','2 ','12','b','');"
    "INSERT INTO t_teacher VALUES ('c','3','Old Three ','3 ','12','c','');"
    "INSERT INTO t_teacher VALUES ('d','4','Old Four ','4 ','12','d','');"
    "INSERT INTO t_teacher VALUES ('e','5','Old Five ','5 ','12','e','');"
    "INSERT INTO t_teacher VALUES ('f','6','Other Six ','6 ','13','f','');"
    "INSERT INTO t_teacher VALUES ('g','7','Other Seven ','7 ','13','g','');";

const json kThreeTeachers = json::array({
    {{"id", "31"}, {"userName", "王芳"}, {"mobile", "13810012002"}, {"acronym", "wf"}, {"email", "w@x.cn"}},
    {{"id", "32"}, {"userName", "张伟"}, {"mobile", "13810012001"}, {"acronym", "zw"}, {"email", ""}},
    {{"id", 33}, {"userName", "陈静"}, {"acronym", "cj"}},  // no mobile, no email; a numeric id
});

const char* kStoredTeachers12 =
    "SELECT teacher_id,teacher_name,phone,school_id,acronym,email FROM t_teacher WHERE school_id='12' ORDER "
    "BY rowid";

TEST(CacheRefresh, ReplacesOnlyItsScopeInTheReplysOrder) {
  EduDb db;
  db.exec(kTeachersOf12And13);
  const Rows otherSchool = db.rows("SELECT * FROM t_teacher WHERE school_id='13'");
  const Rows expected = {
      {"31", "王芳 ", "13810012002 ", "12", "wf", "w@x.cn"},
      {"32", "张伟 ", "13810012001 ", "12", "zw", ""},
      {"33", "陈静 ", " ", "12", "cj", ""},
  };

  DB_Func::RefreshTeachers(reply(kThreeTeachers), "12");
  EXPECT_EQ(db.rows(kStoredTeachers12), expected);
  EXPECT_EQ(db.rows("SELECT * FROM t_teacher WHERE school_id='13'"), otherSchool);
  const Rows firstIds = db.rows("SELECT id FROM t_teacher WHERE school_id='12'");

  // The same answer again: the same rows, never twice, each with a new key.
  DB_Func::RefreshTeachers(reply(kThreeTeachers), "12");
  EXPECT_EQ(db.rows(kStoredTeachers12), expected);
  const Rows secondIds = db.rows("SELECT id FROM t_teacher WHERE school_id='12'");
  ASSERT_EQ(secondIds.size(), 3u);
  for (size_t i = 0; i < secondIds.size(); ++i) {
    EXPECT_EQ(secondIds[i][0].size(), 38u);
    EXPECT_NE(secondIds[i][0], firstIds[i][0]);
  }

  // The picker sees them by acronym, without the stored trailing space.
  EXPECT_EQ(allRows(DB_Func::QueryTeachers("12")), (Rows{{"33", gbk("陈静"), ""},
                                                         {"31", gbk("王芳"), "13810012002"},
                                                         {"32", gbk("张伟"), "13810012001"}}));
}

struct RefreshCase {
  const char* name;
  std::function<void(const std::string&)> refresh;
  json records;
  const char* storedQuery;  // the refreshed table, in table order
  Rows stored;              // UTF-8, as the file holds it
  std::function<DB_Func::RowSet()> list;
  Rows listed;  // UTF-8, as the page lists it
};

TEST(CacheRefresh, EachRefreshPutsEveryMemberInItsColumn) {
  const std::vector<RefreshCase> cases = {
      {"schools take their district from each record",
       [](const std::string& part) { DB_Func::RefreshSchools(part, "110101"); },
       json::array({{{"id", "1001"}, {"className", "第一实验小学"}, {"fatherID", "110101"}},
                    {{"id", "1009"}, {"className", "外区学校"}, {"fatherID", "110102"}}}),
       "SELECT school_id,school_name,qu_id FROM t_school ORDER BY rowid",
       {{"1001", "第一实验小学 ", "110101"}, {"1009", "外区学校 ", "110102"}},
       [] { return DB_Func::QuerySchools("110101"); },
       {{"1001", "第一实验小学", "110101"}}},
      {"grades; a character GBK lacks is stored as ?",
       [](const std::string& part) { DB_Func::RefreshGrades(part, "12"); },
       json::array({{{"id", "3001"}, {"gradeName", "一年级"}}, {{"id", "3002"}, {"gradeName", "二年级😀"}}}),
       "SELECT grade_id,grade_name,school_id FROM t_grade ORDER BY rowid",
       {{"3001", "一年级 ", "12"}, {"3002", "二年级? ", "12"}},
       [] { return DB_Func::QueryGrades("12"); },
       {{"3001", "一年级"}, {"3002", "二年级?"}}},
      {"classes",
       [](const std::string& part) { DB_Func::RefreshClasses(part, "3001"); },
       json::array({{{"id", "4002"}, {"classesName", "一年级（2）班"}},
                    {{"id", "4001"}, {"classesName", "一年级（1）班"}}}),
       "SELECT class_id,class_name,grade_id FROM t_class ORDER BY rowid",
       {{"4002", "一年级（2）班 ", "3001"}, {"4001", "一年级（1）班 ", "3001"}},
       [] { return DB_Func::QueryClasses("3001"); },
       {{"4002", "一年级（2）班"}, {"4001", "一年级（1）班"}}},
      {"subjects take their id from subjectID",
       [](const std::string& part) { DB_Func::RefreshSubjects(part, "3001"); },
       json::array({{{"id", "99"}, {"subjectID", "5002"}, {"subjectName", "数学"}},
                    {{"subjectID", "5001"}, {"subjectName", "语文"}}}),
       "SELECT subject_id,subject_name,grade_id FROM t_subject ORDER BY rowid",
       {{"5002", "数学 ", "3001"}, {"5001", "语文 ", "3001"}},
       [] { return DB_Func::QuerySubjects("3001"); },
       {{"5002", "数学"}, {"5001", "语文"}}},
      {"catalogs show a space for every ?",
       [](const std::string& part) { DB_Func::RefreshCatalogs(part, "5001", "3001"); },
       json::array(
           {{{"id", "6001"}, {"catalogName", "识字（一）"}}, {{"id", "6002"}, {"catalogName", "第?课😀"}}}),
       "SELECT catalog_id,catalog_name,grade_id,subject_id FROM t_catalog ORDER BY rowid",
       {{"6001", "识字（一） ", "3001", "5001"}, {"6002", "第 课  ", "3001", "5001"}},
       [] { return DB_Func::QueryCatalogs("5001", "3001"); },
       {{"6001", "识字（一）"}, {"6002", "第 课"}}},
  };
  for (const RefreshCase& c : cases) {
    SCOPED_TRACE(c.name);
    EduDb db;
    c.refresh(reply(c.records));
    EXPECT_EQ(db.rows(c.storedQuery), c.stored);
    Rows listed;
    for (const auto& row : allRows(c.list())) {
      listed.emplace_back();
      for (const std::string& value : row) listed.back().push_back(text::gbkToUtf8(value));
    }
    EXPECT_EQ(listed, c.listed);
  }
}

TEST(CacheRefresh, AReplyWithoutAListKeepsTheRowsAndAnEmptyListEmptiesTheScope) {
  const std::vector<std::pair<const char*, std::string>> untrusted = {
      {"cut off", reply(kThreeTeachers).substr(0, 60)},
      {"no JSON part", ""},
      {"jsonData not a list", text::utf8ToGbk(R"({"status":"success","jsonData":{"id":"31"}})")},
      {"no jsonData", R"({"status":"error"})"},
  };
  EduDb db;
  db.exec(kTeachersOf12And13);
  const Rows before = db.rows("SELECT * FROM t_teacher ORDER BY rowid");
  for (const auto& [name, part] : untrusted) {
    SCOPED_TRACE(name);
    DB_Func::RefreshTeachers(part, "12");
    EXPECT_EQ(db.rows("SELECT * FROM t_teacher ORDER BY rowid"), before);
  }

  DB_Func::RefreshTeachers(reply(json::array()), "12");
  EXPECT_TRUE(db.rows(kStoredTeachers12).empty());
  EXPECT_EQ(db.rows("SELECT count(*) FROM t_teacher WHERE school_id='13'"), Rows{{"2"}});
}

TEST(CacheRefresh, AnEmptyScopeDeletesNothing) {
  EduDb db;
  db.exec(kTeachersOf12And13);
  db.exec("INSERT INTO t_catalog VALUES ('k','6000','Kept ','3001','');");
  const json oneCatalog = json::array({{{"id", "6001"}, {"catalogName", "阅读"}}});

  // The grade id alone does not make a scope: nothing goes, the row is added.
  DB_Func::RefreshCatalogs(reply(oneCatalog), "", "3001");
  DB_Func::RefreshCatalogs(reply(oneCatalog), "", "3001");
  EXPECT_EQ(db.rows("SELECT catalog_id,grade_id,subject_id FROM t_catalog ORDER BY rowid"),
            (Rows{{"6000", "3001", ""}, {"6001", "3001", ""}, {"6001", "3001", ""}}));

  DB_Func::RefreshTeachers(reply(kThreeTeachers), "");
  EXPECT_EQ(db.rows("SELECT count(*) FROM t_teacher"), Rows{{"10"}});
  EXPECT_EQ(db.rows("SELECT count(*) FROM t_teacher WHERE school_id=''"), Rows{{"3"}});
}

TEST(CacheRefresh, ValuesNeverChangeTheStatementTheyGoInto) {
  const std::vector<std::string> names = {
      "O'Brien", "\"引号\"", "100%", "a;b", "x'); DELETE FROM t_teacher; --", "张老师", "李'四 %_", "''",
  };
  const std::string school = "12' OR '1'='1";
  EduDb db;
  db.exec(kTeachersOf12And13);
  json records = json::array();
  for (size_t i = 0; i < names.size(); ++i)
    records.push_back(
        {{"id", names[i]}, {"userName", names[i]}, {"mobile", names[i]}, {"acronym", std::to_string(i)}});

  DB_Func::RefreshTeachers(reply(records), school);
  EXPECT_EQ(db.rows("SELECT count(*) FROM t_teacher WHERE school_id IN ('12','13')"), Rows{{"7"}});
  const Rows stored =
      db.rows("SELECT teacher_id,teacher_name,phone FROM t_teacher WHERE school_id='12'' OR ''1''=''1'");
  ASSERT_EQ(stored.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(stored[i], (std::vector<std::string>{names[i], names[i] + " ", names[i] + " "}));

  // Read back through the client: the same text, in GBK.
  const Rows listed = allRows(DB_Func::QueryTeachers(text::utf8ToGbk(school)));
  ASSERT_EQ(listed.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string name = text::utf8ToGbk(names[i]);
    EXPECT_EQ(listed[i], (std::vector<std::string>{name, name, name}));
  }
}

TEST(CacheQueries, RecentTeachersAreTheTenNewestOfTheSchool) {
  EduDb db;
  for (int day : {7, 2, 12, 5, 1, 9, 11, 3, 8, 10, 4, 6}) {  // teacher n signed in on day n
    char row[160];
    std::snprintf(row, sizeof row,
                  "INSERT INTO t_recent_list VALUES ('%d','T%d ','','12','2024-09-%02d 08:00:00');", day, day,
                  day);
    db.exec(row);
  }
  db.exec("INSERT INTO t_recent_list VALUES ('99','Other','','13','2025-01-01 00:00:00');");
  Rows expected;
  for (int day = 12; day >= 3; --day)
    expected.push_back({std::to_string(day), "T" + std::to_string(day), ""});
  EXPECT_EQ(allRows(DB_Func::QueryRecentTeachers("12")), expected);
}

TEST(CacheFailures, ALockedDatabaseFailsAtOnceAndKeepsTheRows) {
  EduDb db;
  db.exec(kTeachersOf12And13);
  const Rows before = db.rows("SELECT * FROM t_teacher ORDER BY rowid");

  db.exec("BEGIN IMMEDIATE");  // another program is writing
  try {
    DB_Func::RefreshTeachers(reply(kThreeTeachers), "12");
    FAIL() << "refresh of a locked database succeeded";
  } catch (const DB_Func::DbError& error) {
    EXPECT_EQ(error.code(), SQLITE_BUSY);
    EXPECT_EQ(error.message(), "database is locked");
  }
  db.exec("ROLLBACK");
  EXPECT_EQ(db.rows("SELECT * FROM t_teacher ORDER BY rowid"), before);

  db.exec("BEGIN EXCLUSIVE");  // not even readers get in
  EXPECT_THROW(DB_Func::QueryTeachers("12"), DB_Func::DbError);
  db.exec("ROLLBACK");
  EXPECT_EQ(DB_Func::QueryTeachers("12").rowCount(), 5u);
}

TEST(CacheFailures, AFailingInsertRollsBackTheDeleteToo) {
  EduDb db;
  db.exec(kTeachersOf12And13);
  db.exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON t_teacher WHEN NEW.teacher_id='boom' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  const Rows before = db.rows("SELECT * FROM t_teacher ORDER BY rowid");
  json records = kThreeTeachers;
  records.insert(records.begin() + 1, json{{"id", "boom"}, {"userName", "x"}});

  try {
    DB_Func::RefreshTeachers(reply(records), "12");
    FAIL() << "refresh with a refused insert succeeded";
  } catch (const DB_Func::DbError& error) {
    EXPECT_EQ(error.code(), SQLITE_CONSTRAINT);
    EXPECT_EQ(error.message(), "refused");
  }
  EXPECT_EQ(db.rows("SELECT * FROM t_teacher ORDER BY rowid"), before);
  // And the file is not left locked by a transaction that never ended.
  DB_Func::RefreshTeachers(reply(kThreeTeachers), "12");
  EXPECT_EQ(db.rows(kStoredTeachers12).size(), 3u);
}

}  // namespace
