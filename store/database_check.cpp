#include "store/database_check.h"

#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <string_view>
#include <vector>

#include "store/db_func.h"
#include "store/offline_store.h"
#include "store/own_schema_sql.h"
#include "sys/local_time.h"

namespace DB_Func {
namespace {

namespace fs = std::filesystem;

enum class Health { Good, Damaged, Unreadable };

bool damageCode(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Closes the handle whatever happened to it.
struct Handle {
  sqlite3* db = nullptr;
  ~Handle() { sqlite3_close_v2(db); }
};

struct Query {
  sqlite3_stmt* statement = nullptr;
  Query(sqlite3* db, std::string_view sql) {
    sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  }
  ~Query() { sqlite3_finalize(statement); }
  std::string text(int column) const {
    const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return chars ? chars : "";
  }
};

// Opens the file for writing (so that a journal left by a killed run is
// rolled back, which is no damage) and asks SQLite to look at every page.
Health examine(const std::string& path, std::string* why) {
  Handle handle;
  if (sqlite3_open_v2(path.c_str(), &handle.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    const int code = handle.db ? sqlite3_errcode(handle.db) : SQLITE_CANTOPEN;
    *why = handle.db ? sqlite3_errmsg(handle.db) : "cannot be opened";
    return damageCode(code) ? Health::Damaged : Health::Unreadable;
  }
  const auto failed = [&] {
    *why = sqlite3_errmsg(handle.db);
    return damageCode(sqlite3_errcode(handle.db)) ? Health::Damaged : Health::Unreadable;
  };
  {
    Query check(handle.db, "PRAGMA quick_check(1)");
    if (check.statement == nullptr) return failed();
    const int step = sqlite3_step(check.statement);
    if (step != SQLITE_ROW) return failed();
    if (check.text(0) != "ok") {
      *why = "quick_check: " + check.text(0);
      return Health::Damaged;
    }
  }
  // A file cut to nothing is an empty database to SQLite, and useless to us.
  Query tables(handle.db,
               "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 't_login_info'");
  if (tables.statement == nullptr || sqlite3_step(tables.statement) != SQLITE_ROW) return failed();
  if (sqlite3_column_int(tables.statement, 0) == 0) {
    *why = "it holds none of the client's tables";
    return Health::Damaged;
  }
  return Health::Good;
}

std::string stamp() {
  const std::tm now = localDateNow();
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &now);
  return text;
}

// The damaged file and the journals beside it go together: a journal left
// next to the clean copy would be played into it.
bool moveAside(const std::string& path, const std::string& label, std::string* keptAs, std::string* why) {
  std::string target = path + label + stamp();
  std::error_code error;
  for (int n = 2; fs::exists(fs::symlink_status(target, error)); ++n)
    target = path + label + stamp() + "-" + std::to_string(n);
  fs::rename(path, target, error);
  if (error) {
    *why = "cannot be moved aside: " + error.message();
    return false;
  }
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    if (fs::exists(path + suffix, error)) fs::rename(path + suffix, target + suffix, error);
  }
  *keptAs = target;
  return true;
}

bool runScript(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A new edu.db from the tables built into the program, under `part`.
bool makeFromBuiltInTables(const std::string& part, std::string* why) {
  Handle handle;
  if (sqlite3_open_v2(part.c_str(), &handle.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
          SQLITE_OK ||
      !runScript(handle.db, kReferenceSchemaSql) || !runScript(handle.db, kOwnSchemaSql)) {
    *why = handle.db ? sqlite3_errmsg(handle.db) : "cannot be made";
    return false;
  }
  return true;
}

// Puts a clean edu.db at `target`, whole or not at all.
bool installClean(const std::string& target, const std::string& programDir, std::string* how) {
  const std::string part = target + ".new";
  std::error_code error;
  fs::remove(part, error);
  const std::string delivered = programDir + "/edu.db";
  std::string why;
  bool made = false;
  // The program folder's copy, unless it is the very file just moved aside
  // (a writable program folder is the data folder).
  if (!programDir.empty() && fs::exists(delivered, error) && examine(delivered, &why) == Health::Good) {
    made = fs::copy_file(delivered, part, fs::copy_options::overwrite_existing, error);
    if (made) {
      fs::permissions(part, fs::perms::owner_read | fs::perms::owner_write, error);
      *how = "the program folder's clean copy";
    }
  }
  if (!made) {
    made = makeFromBuiltInTables(part, &why);
    *how = "a new edu.db with the client's tables";
  }
  if (made) fs::rename(part, target, error);
  if (!made || error) {
    *how = "no clean edu.db could be made: " + (error ? error.message() : why);
    fs::remove(part, error);
    return false;
  }
  return true;
}

std::vector<std::string> columnsOf(sqlite3* db, const std::string& schema, const char* table) {
  std::vector<std::string> columns;
  Query info(db, "PRAGMA " + schema + ".table_info(" + table + ")");
  while (info.statement && sqlite3_step(info.statement) == SQLITE_ROW) columns.push_back(info.text(1));
  return columns;
}

// Copies the rows of `table` from the attached damaged file, one by one,
// until SQLite cannot read further. `replace`: the clean copy's rows give
// way when anything was read (the address the user stored beats the
// delivered one).
int rescueTable(sqlite3* db, const char* table, bool replace) {
  const std::vector<std::string> ours = columnsOf(db, "main", table);
  std::string list;
  for (const std::string& column : columnsOf(db, "damaged", table)) {
    bool shared = false;
    for (const std::string& own : ours) shared = shared || own == column;
    if (shared) list += (list.empty() ? "\"" : ", \"") + column + "\"";
  }
  if (list.empty()) return 0;
  Query read(db, "SELECT " + list + " FROM damaged." + table);
  std::string marks;
  const int count = read.statement ? sqlite3_column_count(read.statement) : 0;
  for (int i = 0; i < count; ++i) marks += i ? ",?" : "?";
  Query write(db,
              std::string("INSERT OR IGNORE INTO main.") + table + "(" + list + ") VALUES (" + marks + ")");
  if (!read.statement || !write.statement) return 0;
  int rescued = 0;
  while (sqlite3_step(read.statement) == SQLITE_ROW) {
    if (replace && rescued == 0) runScript(db, (std::string("DELETE FROM main.") + table).c_str());
    for (int i = 0; i < count; ++i)
      sqlite3_bind_value(write.statement, i + 1, sqlite3_column_value(read.statement, i));
    if (sqlite3_step(write.statement) == SQLITE_DONE) ++rescued;
    sqlite3_reset(write.statement);
  }
  return rescued;
}

std::string rescueOwnRows(const std::string& target, const std::string& damaged) {
  Handle handle;
  if (sqlite3_open_v2(target.c_str(), &handle.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    return "nothing rescued (the clean copy cannot be opened)";
  Query attach(handle.db, "ATTACH DATABASE ? AS damaged");
  sqlite3_bind_text(attach.statement, 1, damaged.c_str(), -1, SQLITE_TRANSIENT);
  if (!attach.statement || sqlite3_step(attach.statement) != SQLITE_DONE)
    return std::string("nothing rescued: ") + sqlite3_errmsg(handle.db);
  runScript(handle.db, "BEGIN");
  std::string rescued;
  for (const auto& [table, replace] :
       {std::pair("t_login_info", true), std::pair("t_offline_lesson", false),
        std::pair("t_offline_shot", false), std::pair("t_repair_report", false)}) {
    rescued += (rescued.empty() ? "" : ", ") + std::string(table) + " " +
               std::to_string(rescueTable(handle.db, table, replace));
  }
  if (!runScript(handle.db, "COMMIT")) return std::string("nothing rescued: ") + sqlite3_errmsg(handle.db);
  return "rows rescued: " + rescued;
}

}  // namespace

bool IsDamage(const DbError& error) {
  if (damageCode(error.code())) return true;
  // A file cut to nothing opens as an empty database.
  return (error.code() & 0xff) == SQLITE_ERROR && error.message().rfind("no such table", 0) == 0;
}

bool IsDiskFull(const DbError& error) { return (error.code() & 0xff) == SQLITE_FULL; }

DatabaseCheck CheckDatabase(const std::string& dataDir, const std::string& programDir) {
  DatabaseCheck result;
  const std::string path = dataDir + "/edu.db";
  std::error_code error;
  if (dataDir.empty()) return result;
  // A link planted in the client's place is never written through.
  const bool link = fs::is_symlink(path, error);
  if (!link && !fs::is_regular_file(path, error)) return result;
  std::string why = "a symbolic link, not used";
  if (!link && examine(path, &why) != Health::Damaged) return result;
  result.damaged = true;
  result.note = "edu.db: " + std::string(link ? "" : "damaged ") + "(" + why + ")";
  std::string problem;
  if (!moveAside(path, link ? ".unsafe-" : ".damaged-", &result.keptAs, &problem)) {
    result.note += "; " + problem;
    return result;
  }
  result.note += "; kept as " + result.keptAs;
  std::string how;
  result.replaced = installClean(path, programDir, &how);
  result.note += "; " + how;
  if (!result.replaced || link) return result;
  // The clean copy gets the columns of today's own tables before the rows
  // come over.
  LocateDatabaseIn(dataDir);
  try {
    EnsureOwnTables();
  } catch (const DbError& failure) {
    result.note += std::string("; own tables: ") + failure.what();
  }
  result.note += "; " + rescueOwnRows(path, result.keptAs) + "; the reference lists refill from the server";
  return result;
}

}  // namespace DB_Func
