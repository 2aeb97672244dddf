// The rows of one query, copied out of the database so that they outlive the
// connection. The pages keep a row set behind each list until they query
// again.
//
// Values are held as the client's own text: text read from edu.db is decoded
// from UTF-8 to GBK here, once, so callers never convert. Every value is
// trimmed of leading and trailing bytes up to 32 (the stored names end in a
// space) and a NULL is empty text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace DB_Func {

class RowSet {
 public:
  RowSet() = default;
  RowSet(std::vector<std::string> columns, std::vector<std::string> values);

  size_t rowCount() const { return rowCount_; }
  size_t columnCount() const { return columns_.size(); }
  const std::string& columnName(size_t column) const { return columns_.at(column); }

  // The current row starts at the first row.
  size_t currentRow() const { return current_; }
  // Succeeds only for an existing row; otherwise the current row stays.
  bool moveTo(size_t row);
  // Advances by one until the current row is past the last one.
  void next();
  bool end() const { return current_ >= rowCount_; }

  // Position of a column by name, ignoring ASCII letter case; -1 when the
  // query has no such column.
  int columnIndex(std::string_view name) const;
  // The same, throwing like text() when the query has no such column.
  size_t requireColumn(std::string_view name) const;

  // Value of a column in the current row. Asking for a column the query does
  // not have, or reading with no current row, throws DbError with SQLite's
  // "out of range" code (SQLITE_RANGE), so the event boundary reports it like
  // any database error; a caller tests rowCount() before it reads.
  const std::string& text(std::string_view column) const;
  const std::string& text(size_t column) const;
  // Value of any row, without moving the current row; throws like text().
  const std::string& at(size_t row, size_t column) const;

 private:
  std::vector<std::string> columns_;
  std::vector<std::string> values_;  // row after row
  size_t rowCount_ = 0;
  size_t current_ = 0;
};

}  // namespace DB_Func
