#include "core/server_address.h"

#include "store/db_func.h"

std::optional<std::string> storedServerUrl() {
  if (DB_Func::DatabasePath().empty()) return std::nullopt;
  const DB_Func::RowSet rows = DB_Func::ReadLoginInfo();
  if (rows.rowCount() == 0) return std::string();
  return rows.text("http_url");
}
