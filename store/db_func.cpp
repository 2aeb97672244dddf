#include "store/db_func.h"

#include <filesystem>

#include "platform/program_dir.h"
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

bool LocateDatabase() { return LocateDatabaseIn(platform::programDir()); }

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

std::string SqlQuote(const std::string& value) { return value; }

std::string SqlQuoteText(const std::string& value) { return value + " "; }

}  // namespace DB_Func
