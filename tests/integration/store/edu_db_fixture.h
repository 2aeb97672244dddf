// A real edu.db in a temporary folder, made the way the program folder's is
// (from store/schema.sql), with the client pointed at it. The test reaches
// the file directly through its own SQLite connection to set up rows and to
// see exactly what the client stored (UTF-8 bytes, trailing spaces and all).
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QTemporaryDir>
#include <string>
#include <vector>

#include "store/db_func.h"
#include "tests/support/test_support.h"

namespace storetest {

using Rows = std::vector<std::vector<std::string>>;

class EduDb {
 public:
  // An edu.db holding the delivered tables, or only what `schema` creates.
  explicit EduDb(
      const std::string& schema = testsupport::readFile(testsupport::sourcePath("store/schema.sql"))) {
    path_ = dir_.path().toStdString() + "/edu.db";
    EXPECT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
    exec(schema);
    EXPECT_TRUE(DB_Func::LocateDatabaseIn(folder()));
  }
  ~EduDb() { sqlite3_close(db_); }
  EduDb(const EduDb&) = delete;
  EduDb& operator=(const EduDb&) = delete;

  std::string folder() const { return dir_.path().toStdString(); }
  const std::string& path() const { return path_; }

  // Runs SQL on the test's own connection; returns SQLite's result code.
  int exec(const std::string& sql) {
    char* error = nullptr;
    const int result = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(result, SQLITE_OK) << sql << ": " << (error ? error : "");
    sqlite3_free(error);
    return result;
  }

  // Every row of a query as stored text (NULL as "<null>").
  Rows rows(const std::string& sql) {
    Rows result;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        row.push_back(text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, i)))
                           : "<null>");
      }
      result.push_back(row);
    }
    sqlite3_finalize(statement);
    return result;
  }

 private:
  QTemporaryDir dir_;
  std::string path_;
  sqlite3* db_ = nullptr;
};

// The values of a row set, row after row, as the client sees them (GBK).
inline Rows allRows(DB_Func::RowSet rows) {
  Rows result;
  for (rows.moveTo(0); !rows.end(); rows.next()) {
    std::vector<std::string> row;
    for (size_t i = 0; i < rows.columnCount(); ++i) row.push_back(rows.text(i));
    result.push_back(row);
  }
  return result;
}

}  // namespace storetest
