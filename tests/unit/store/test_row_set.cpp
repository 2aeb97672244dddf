// The row set the pages keep behind their lists: moving through it, finding
// columns by name, and the reads that are errors.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "store/db_error.h"
#include "store/row_set.h"

namespace {

using DB_Func::DbError;
using DB_Func::RowSet;

RowSet threeCatalogs() { return RowSet({"catalog_id", "catalog_name"}, {"1", "a", "2", "b", "3", "c"}); }

TEST(RowSet, MovesOnlyToExistingRowsAndStepsPastTheLast) {
  RowSet rows = threeCatalogs();
  EXPECT_EQ(rows.rowCount(), 3u);
  EXPECT_EQ(rows.currentRow(), 0u);
  EXPECT_EQ(rows.text("catalog_name"), "a");

  EXPECT_TRUE(rows.moveTo(2));
  EXPECT_EQ(rows.text("catalog_id"), "3");
  EXPECT_FALSE(rows.moveTo(3));  // n == row count: refused, current row kept
  EXPECT_EQ(rows.currentRow(), 2u);
  EXPECT_FALSE(rows.end());

  rows.next();
  EXPECT_TRUE(rows.end());
  rows.next();  // stays just past the last row
  EXPECT_EQ(rows.currentRow(), 3u);
  EXPECT_THROW(rows.text("catalog_id"), DbError);

  EXPECT_TRUE(rows.moveTo(1));
  EXPECT_EQ(rows.text(1), "b");
  // Any row by number, the current row left where it is.
  EXPECT_EQ(rows.at(2, 1), "c");
  EXPECT_EQ(rows.currentRow(), 1u);
  EXPECT_THROW(rows.at(3, 0), DbError);
  EXPECT_THROW(rows.at(0, 2), DbError);
}

TEST(RowSet, FindsColumnsWhateverTheirLetterCase) {
  const RowSet rows = threeCatalogs();
  EXPECT_EQ(rows.columnIndex("Catalog_name"), 1);
  EXPECT_EQ(rows.columnIndex("CATALOG_ID"), 0);
  EXPECT_EQ(rows.text("Catalog_Name"), "a");
  EXPECT_EQ(rows.columnIndex("catalog"), -1);
  EXPECT_THROW(rows.text("catalog"), DbError);
  EXPECT_THROW(rows.text(2), DbError);
}

TEST(RowSet, WithoutRowsEveryReadIsAnError) {
  RowSet rows({"teacher_id"}, {});
  EXPECT_EQ(rows.rowCount(), 0u);
  EXPECT_TRUE(rows.end());
  EXPECT_FALSE(rows.moveTo(0));
  EXPECT_THROW(rows.text("teacher_id"), DbError);
  EXPECT_THROW(RowSet().text(0), DbError);
  try {
    rows.text("teacher_id");
  } catch (const DbError& error) {
    EXPECT_EQ(error.code(), SQLITE_RANGE);
  }
}

}  // namespace
