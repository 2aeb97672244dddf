// The server address as stored in edu.db or typed by the user, turned into
// the host, port and path that every request of the run uses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/http_helpers.h"

// Takes "host", "host:port" or "host:port/path" apart; the path comes out
// beginning and ending with "/". Users also type the address with "http://"
// in front, or with a "/" at its end: both give the same result as without.
ServerAddress splitServerAddress(std::string_view serverUrl);

// The address kept in edu.db: http_url of the first t_login_info row,
// trimmed, in GBK. Empty text when the table has no row (the user is then
// asked); nothing when there is no edu.db (then nobody is asked). A failing
// read throws DB_Func::DbError.
std::optional<std::string> storedServerUrl();
