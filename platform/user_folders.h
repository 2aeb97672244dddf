// The users of this computer whose client keeps a data folder, for the
// admin's view of every user at once.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct UserDataFolder {
  std::string user;
  std::string folder;  // ~/.local/share/edu-client of that user
};

// Every account in the password database whose home holds
// .local/share/edu-client, in the database's order, each folder once.
std::vector<UserDataFolder> usersWithDataFolder();

}  // namespace platform
