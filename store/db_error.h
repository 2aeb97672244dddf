// The one exception the database code raises: SQLite's result code and
// message of the failing step (or SQLITE_RANGE for a read the row set does not
// have). On the UI thread it ends at the window's handler (ui/event_guard);
// where a failure must not stop what follows, the caller catches it and logs
// it (docs/CONVENTIONS.md, "Errors").
#pragma once

#include <stdexcept>
#include <string>

namespace DB_Func {

class DbError : public std::runtime_error {
 public:
  DbError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  // SQLite's primary result code (SQLITE_BUSY, SQLITE_ERROR, ...).
  int code() const noexcept { return code_; }
  // SQLite's own message text (UTF-8, as SQLite gives it).
  std::string message() const { return what(); }

 private:
  int code_;
};

}  // namespace DB_Func
