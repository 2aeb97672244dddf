// edu-admin's two commands for support: "check" tries the server (and the
// FTP server when a sign-in named one) and says in plain words what works;
// "report" packs what support needs into a .tar.gz with every password and
// login line left out.
#pragma once

#include <optional>
#include <string>

namespace admin {

// The server address in use: the site's (for every user), else the one in
// this user's edu.db; with where it came from. Nothing when neither sets one.
struct AddressInUse {
  std::string address;  // UTF-8, as written
  std::string from;
};
std::optional<AddressInUse> addressInUse();

// 0 when everything tried answered, 1 otherwise.
int check(int argc, char** argv);

// Writes the archive to `file` (a default name in the working folder when
// empty); 0 when written, 1 otherwise.
int report(const std::string& file);

}  // namespace admin
