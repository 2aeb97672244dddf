// The server address kept in edu.db.
#pragma once

#include <optional>
#include <string>

#include "server/server_address.h"

// http_url of the first t_login_info row, trimmed, in GBK. Empty text when
// the table has no row (the user is then asked); nothing when there is no
// edu.db (then nobody is asked). A failing read throws DB_Func::DbError.
std::optional<std::string> storedServerUrl();
