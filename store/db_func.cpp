#include "store/db_func.h"

#include <filesystem>

#include "platform/data_dir.h"
#include "store/connection.h"

namespace DB_Func {
namespace {

std::string& databasePath() {
  static std::string path;
  return path;
}

bool isFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

bool LocateDatabase() { return LocateDatabaseIn(platform::dataDir()); }

bool LocateDatabaseIn(const std::string& folder) {
  std::string candidate = folder;
  if (!candidate.empty() && candidate.back() != '/') candidate += '/';
  candidate += "edu.db";
  // Without a known folder there is nothing to find (a bare "edu.db" would
  // name whatever the working folder holds).
  databasePath() = !folder.empty() && isFile(candidate) ? candidate : std::string();
  return !databasePath().empty();
}

const std::string& DatabasePath() { return databasePath(); }

RowSet ReadLoginInfo() {
  Connection connection(DatabasePath());
  return connection.query(
      "Select teacher_id, teacher_name, teacher_phone, http_url, is_lock_scr, school_id,school_name, "
      "shen_name, "
      "shi_name, qu_name, shen_id, shi_id, qu_id  from t_login_info");
}

void StoreServerUrl(const std::string& serverUrl) {
  Connection connection(DatabasePath());
  Transaction transaction(connection);
  if (connection.query("Select count(*) from t_login_info").text(0) == "0")
    connection.execute("Insert into t_login_info(http_url) values(?)", {serverUrl});
  else
    connection.execute("Update t_login_info set http_url=?", {serverUrl});
  transaction.commit();
}

std::string IntegrityCheck() {
  Connection connection(DatabasePath());
  const RowSet rows = connection.query("PRAGMA integrity_check");
  std::string said;
  for (size_t row = 0; row < rows.rowCount(); ++row) said += (said.empty() ? "" : "; ") + rows.at(row, 0);
  return said;
}

std::vector<TableRowCount> CountCachedRows() {
  static const char* const kTables[] = {"hat_province", "hat_city",     "hat_area", "t_school",
                                        "t_teacher",    "t_grade",      "t_class",  "t_subject",
                                        "t_catalog",    "t_recent_list"};
  Connection connection(DatabasePath());
  std::vector<TableRowCount> counts;
  for (const char* table : kTables) {
    const RowSet rows = connection.query(std::string("Select count(*) from ") + table);
    counts.push_back({table, std::stoll(rows.text(0))});
  }
  return counts;
}

std::string SqlQuoteText(const std::string& value) { return value + " "; }

}  // namespace DB_Func
