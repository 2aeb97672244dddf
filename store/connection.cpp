#include "store/connection.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "store/db_error.h"
#include "sys/text_codec.h"

namespace DB_Func {
namespace {

bool isAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Ids and numbers are plain ASCII, the same bytes in both code pages; only
// names need the converter (here and when values are bound).
std::string toGbk(std::string_view utf8) { return isAscii(utf8) ? std::string(utf8) : text::utf8ToGbk(utf8); }

std::string trimmed(std::string value) {
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  const auto first = std::find_if_not(value.begin(), value.end(), isBlank);
  const auto last = std::find_if_not(value.rbegin(), value.rend(), isBlank).base();
  if (first >= last) return {};
  return std::string(first, last);
}

// How a column's values become text: by the column's declared type, or by
// each value's own storage class when the column has none (an expression).
enum class ReadAs { Integer, Float, Bytes, Text, StorageClass };

bool sameWordIgnoringCase(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

ReadAs readAsFor(const char* declaredType) {
  if (declaredType == nullptr || *declaredType == '\0') return ReadAs::StorageClass;
  for (const char* name : {"INTEGER", "BOOLEAN"})
    if (sameWordIgnoringCase(declaredType, name)) return ReadAs::Integer;
  for (const char* name : {"NUMERIC", "FLOAT", "DOUBLE", "REAL"})
    if (sameWordIgnoringCase(declaredType, name)) return ReadAs::Float;
  if (sameWordIgnoringCase(declaredType, "BLOB")) return ReadAs::Bytes;
  return ReadAs::Text;
}

std::string integerText(sqlite3_int64 value) { return std::to_string(value); }

std::string floatText(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string columnText(sqlite3_stmt* statement, int column, ReadAs readAs) {
  const int storage = sqlite3_column_type(statement, column);
  if (storage == SQLITE_NULL) return {};
  if (readAs == ReadAs::StorageClass) {
    readAs = storage == SQLITE_INTEGER ? ReadAs::Integer
             : storage == SQLITE_FLOAT ? ReadAs::Float
             : storage == SQLITE_BLOB  ? ReadAs::Bytes
                                       : ReadAs::Text;
  }
  switch (readAs) {
    case ReadAs::Integer:
      return integerText(sqlite3_column_int64(statement, column));
    case ReadAs::Float:
      return floatText(sqlite3_column_double(statement, column));
    case ReadAs::Bytes: {
      const void* bytes = sqlite3_column_blob(statement, column);
      const int size = sqlite3_column_bytes(statement, column);
      return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
    }
    default: {
      const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      const int size = sqlite3_column_bytes(statement, column);
      return chars ? toGbk(std::string_view(chars, static_cast<size_t>(size))) : std::string();
    }
  }
}

}  // namespace

Connection::Connection(const std::string& path) {
  // A link planted in edu.db's place is never followed.
  const int result =
      sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (result == SQLITE_OK) {
    sqlite3_busy_timeout(db_, 1000);
    return;
  }
  const int code = db_ ? sqlite3_errcode(db_) : result;
  const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(result);
  sqlite3_close_v2(db_);
  throw DbError(code, message);
}

Connection::~Connection() { sqlite3_close_v2(db_); }

void Connection::fail() const { throw DbError(sqlite3_errcode(db_), sqlite3_errmsg(db_)); }

void Connection::execute(std::string_view sql, std::initializer_list<std::string_view> values) {
  Statement(*this, sql).run(values);
}

void Connection::executeScript(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail();
}

long long Connection::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

RowSet Connection::query(std::string_view sql, std::initializer_list<std::string_view> ids) {
  Statement statement(*this, sql);
  statement.bind(ids);
  sqlite3_stmt* s = statement.statement_;
  const int columnCount = sqlite3_column_count(s);
  std::vector<std::string> columns;
  std::vector<ReadAs> readAs;
  for (int i = 0; i < columnCount; ++i) {
    const char* name = sqlite3_column_name(s, i);
    columns.push_back(name ? name : "");
    readAs.push_back(readAsFor(sqlite3_column_decltype(s, i)));
  }
  std::vector<std::string> values;  // row after row
  for (;;) {
    const int step = sqlite3_step(s);
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) fail();
    for (int i = 0; i < columnCount; ++i) values.push_back(trimmed(columnText(s, i, readAs[i])));
  }
  return RowSet(std::move(columns), std::move(values));
}

Statement::Statement(Connection& connection, std::string_view sql) : connection_(connection) {
  if (sqlite3_prepare_v2(connection.db_, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) !=
      SQLITE_OK)
    connection.fail();
}

Statement::~Statement() { sqlite3_finalize(statement_); }

void Statement::bind(std::initializer_list<std::string_view> values) {
  // The converted values stay in bound_ until the next bind, so SQLite need
  // not copy them (the insert of a refresh runs once per record).
  bound_.resize(std::max(bound_.size(), values.size()));
  int index = 0;
  for (std::string_view value : values) {
    std::string& utf8 = bound_[static_cast<size_t>(index)];
    if (isAscii(value))
      utf8.assign(value);
    else
      utf8 = text::gbkToUtf8(value);
    ++index;
    if (sqlite3_bind_text(statement_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_STATIC) !=
        SQLITE_OK)
      connection_.fail();
  }
}

void Statement::run(std::initializer_list<std::string_view> values) {
  bind(values);
  if (sqlite3_step(statement_) != SQLITE_DONE) connection_.fail();
  sqlite3_reset(statement_);  // a finished statement must not hold up COMMIT
}

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.execute("BEGIN TRANSACTION");
}

Transaction::~Transaction() {
  if (!open_) return;
  // The statement that failed may already have ended the transaction; a
  // rollback that finds none is harmless.
  try {
    connection_.execute("ROLLBACK");
  } catch (const DbError&) {
  }
}

void Transaction::commit() {
  connection_.execute("COMMIT");
  open_ = false;
}

}  // namespace DB_Func
