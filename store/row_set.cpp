#include "store/row_set.h"

#include <sqlite3.h>

#include "store/db_error.h"

namespace DB_Func {
namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

}  // namespace

RowSet::RowSet(std::vector<std::string> columns, std::vector<std::string> values)
    : columns_(std::move(columns)), values_(std::move(values)) {
  rowCount_ = columns_.empty() ? 0 : values_.size() / columns_.size();
}

bool RowSet::moveTo(size_t row) {
  if (row >= rowCount_) return false;
  current_ = row;
  return true;
}

void RowSet::next() {
  if (current_ < rowCount_) ++current_;
}

int RowSet::columnIndex(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (sameNameIgnoringCase(columns_[i], name)) return static_cast<int>(i);
  return -1;
}

size_t RowSet::requireColumn(std::string_view name) const {
  const int index = columnIndex(name);
  if (index < 0) throw DbError(SQLITE_RANGE, "row set has no column " + std::string(name));
  return static_cast<size_t>(index);
}

const std::string& RowSet::text(std::string_view column) const { return text(requireColumn(column)); }

const std::string& RowSet::text(size_t column) const {
  // A column the query lacks is reported as such before a missing row.
  if (end() && column < columns_.size()) throw DbError(SQLITE_RANGE, "row set has no current row");
  return at(current_, column);
}

const std::string& RowSet::at(size_t row, size_t column) const {
  if (column >= columns_.size())
    throw DbError(SQLITE_RANGE, "row set has no column " + std::to_string(column));
  if (row >= rowCount_) throw DbError(SQLITE_RANGE, "row set has no row " + std::to_string(row));
  return values_[row * columns_.size() + column];
}

}  // namespace DB_Func
