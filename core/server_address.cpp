#include "core/server_address.h"

#include "store/db_func.h"
#include "sys/trim.h"

ServerAddress splitServerAddress(std::string_view serverUrl) {
  std::string address = trimText(serverUrl);
  while (!address.empty() && address.back() == '/') address.pop_back();
  // The split takes a leading "http://" off by itself, so the address goes
  // in as typed: putting the scheme in front of a typed one would make the
  // host "http".
  return splitServerUrl(address + "/");
}

std::optional<std::string> storedServerUrl() {
  if (DB_Func::DatabasePath().empty()) return std::nullopt;
  const DB_Func::RowSet rows = DB_Func::ReadLoginInfo();
  if (rows.rowCount() == 0) return std::string();
  return rows.text("http_url");
}
