// One connection to edu.db for the length of one operation, and the
// statements run on it. Values never go into statement text: each is bound
// as a parameter, converted from the client's GBK to the UTF-8 the file
// holds. A database that another program (the lock screen, edu-admin, an
// admin's sqlite3) holds locked is waited for up to a second before the
// statement fails, so a short read elsewhere never costs a record.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "store/row_set.h"

struct sqlite3;
struct sqlite3_stmt;

namespace DB_Func {

class Connection;

// A prepared statement that can be run again and again with new values.
class Statement {
 public:
  Statement(Connection& connection, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds the values to the parameters 1..n in order, steps once and expects
  // SQLite's "done"; the statement is then ready for the next values.
  void run(std::initializer_list<std::string_view> values);

 private:
  void bind(std::initializer_list<std::string_view> values);

  friend class Connection;
  Connection& connection_;
  sqlite3_stmt* statement_ = nullptr;
  std::vector<std::string> bound_;  // UTF-8 values SQLite reads at the next step
};

class Connection {
 public:
  // Opens an existing file for reading and writing; never creates one and
  // never follows a symbolic link (a link planted there is refused). An
  // empty path opens a temporary empty database, as SQLite does.
  explicit Connection(const std::string& path);
  // Closing with a transaction open rolls it back.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // A statement that is not a query, run once.
  void execute(std::string_view sql, std::initializer_list<std::string_view> values = {});
  // Several statements without values, run in order (a schema script).
  void executeScript(const char* sql);
  // The row id of the last INSERT on this connection.
  long long lastInsertId() const;
  // Every row of a query, copied.
  RowSet query(std::string_view sql, std::initializer_list<std::string_view> ids = {});

  // Throws DbError with the connection's current code and message.
  [[noreturn]] void fail() const;

 private:
  friend class Statement;
  sqlite3* db_ = nullptr;
};

// BEGIN TRANSACTION now; ROLLBACK when left without commit().
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace DB_Func
