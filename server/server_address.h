// The server address as stored in edu.db, typed by the user or given to the
// admin command, turned into the host, port and path that every request of
// the run uses. The client's input box and edu-admin accept the same forms
// through the same check.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/http_helpers.h"

// Takes "host", "host:port" or "host:port/path" apart; the path comes out
// beginning and ending with "/". Users also type the address with "http://"
// in front, or with a "/" at its end: both give the same result as without.
// "https://" in front makes it a secure address (port 443 unless given):
// every request of the run then goes over TLS.
ServerAddress splitServerAddress(std::string_view serverUrl);

// The address split as above when it can reach a server: a valid host name
// (dot-separated labels of 1 to 63 letters, digits, "-" and "_", neither
// beginning nor ending with "-", at most 253 characters) or IPv4 address; a
// port, when one is given, of digits from 1 to
// 65535; a path without blanks, control characters, "?" or "#" (they would
// break every request line). Nothing otherwise.
std::optional<ServerAddress> usableServerAddress(std::string_view serverUrl);
